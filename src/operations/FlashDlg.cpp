#include "operations/FlashDlg.h"

#include "operations/PageControls.h"

namespace tavrel {

namespace {

constexpr uint32_t kFlashAddressLimit = 0x100000;

}  // namespace

FlashDlg::FlashDlg(UserPrompt& prompt, FileChooser* chooser) : prompt_(prompt), chooser_(chooser) {
    hexRadio.checked = true;
    flashAddress = HexFieldControl("0x : ");
    qspiMode = ListControl("QSPI  Mode", {"Normal read", "Fast Read", "Fast read dual out", "Fast read quad out"}, 0);
    initMemMode = ListControl("Init Mem Mode", {"Normal", "Alt cfg 0", "Alt cfg 1"}, 0);
    finalMemMode = ListControl("Final Mem Mode", {"Normal", "Alt cfg 0", "Alt cfg 1"}, 0);
    crcMode = ListControl("CRC Mode", {"CRC-16-CCITT", "CRC-16-IBM", "CRC-16-T10_DIF", "CRC-32-IEEE", "No CRC"}, 4);
    clockSource = ListControl("Clock Source",
                       {"System:200MHz,Reference:XTAL32M", "System:200MHz,Reference:RC32M", "System:X32M",
                        "System:RC32M"},
                       3);
    eraseAll.checked = true;
    noneRadio.checked = true;
    password = HexFieldControl("Password: 0x");
    imagePath.readOnly = true;
    startButton.enabled = false;
}

void FlashDlg::ApplyFileType() {
    const bool hex = hexRadio.checked;
    noneRadio.enabled = hex;
    secureRadio.enabled = hex;
    password.enabled = hex && secureRadio.checked;
    flashAddress.enabled = !hex;
    for (ControlState* list : {&qspiMode, &initMemMode, &finalMemMode, &crcMode, &clockSource}) list->enabled = hex;
}

void FlashDlg::ClickHex() {
    if (!hexRadio.enabled) return;
    CheckRadio(hexRadio, {&binRadio});
    ApplyFileType();
}

void FlashDlg::ClickBin() {
    if (!binRadio.enabled) return;
    CheckRadio(binRadio, {&hexRadio});
    ApplyFileType();
}

void FlashDlg::ClickSecure() {
    if (!secureRadio.enabled) return;
    CheckRadio(secureRadio, {&noneRadio});
    password.enabled = true;
}

void FlashDlg::ClickNone() {
    if (!noneRadio.enabled) return;
    CheckRadio(noneRadio, {&secureRadio});
    password.enabled = false;
}

void FlashDlg::ClickEraseMode(int mode) { ClickEraseRadio(eraseAll, eraseBlocks, eraseSectors, mode); }

void FlashDlg::ClickVerify() { ToggleCheckBox(verify); }

bool FlashDlg::Select(ControlState& list, int index) {
    if (!list.enabled || index < 0 || static_cast<size_t>(index) >= list.items.size()) return false;
    list.selection = index;
    return true;
}

bool FlashDlg::Browse() {
    return BrowseImage(chooser_, browseButton, hexRadio.checked ? kHexFilter : kBinFilter, imagePath, startButton);
}

void FlashDlg::SetImagePath(const std::string& path) { ShowImagePath(path, imagePath, startButton); }

bool FlashDlg::ReadFlashAddress(ProgramRequest& request) {
    const std::string& text = flashAddress.text;
    if (text.empty() || text.size() > kHexFieldLength) {
        RefuseField(prompt_, flashAddress, kAddressLength, true);
        return false;
    }
    // Text that is not a number is refused like an address beyond the flash.
    const std::optional<uint32_t> value = HexValue(text);
    if (!value || *value >= kFlashAddressLimit) {
        RefuseField(prompt_, flashAddress, kInvalidAddress, true);
        return false;
    }
    request.flashStartAddress = *value;
    return true;
}

bool FlashDlg::ReadPassword(ProgramRequest& request) {
    const std::optional<uint32_t> value = ReadPasswordField(prompt_, password);
    if (!value) return false;
    request.securityMode = kSecureMode;
    request.password = *value;
    return true;
}

std::optional<ProgramRequest> FlashDlg::Start(const TargetSelection& target) {
    ProgramRequest request;
    if (hexRadio.checked) {
        request.fileType = "HEX";
        request.crcMode = crcMode.selection;
        request.qspiMode = qspiMode.selection;
        request.initMemMode = initMemMode.selection;
        request.finalMemMode = finalMemMode.selection;
        request.clockSource = clockSource.selection;
    }
    if (binRadio.checked) {
        request.fileType = "BIN";
        if (!ReadFlashAddress(request)) return std::nullopt;
    }
    if (request.fileType == "HEX" && secureRadio.checked && !ReadPassword(request)) return std::nullopt;

    request.operation = "FLASH";
    request.chip = target.family;
    TakeLinkSettings(request, target);

    request.eraseMode = EraseModeOf(eraseBlocks, eraseSectors);
    if (noneRadio.checked) request.securityMode = kNoSecurityMode;
    request.verify = verify.checked ? kVerifyAfterProgramming : kNoVerify;

    const std::optional<std::string> path = TakeImagePath(prompt_, imagePath);
    if (!path) return std::nullopt;
    request.imagePath = *path;
    SetControlsEnabled(false);
    return request;
}

std::optional<ProgramRequest> FlashDlg::PressEnter(const ControlState& field, const TargetSelection& target) {
    if ((&field != &flashAddress && &field != &password) || !field.enabled) return std::nullopt;
    return Start(target);
}

void FlashDlg::SetControlsEnabled(bool enabled) {
    for (ControlState* control : {&hexRadio, &binRadio, &flashAddress, &qspiMode, &initMemMode, &finalMemMode,
                                  &crcMode, &clockSource, &eraseAll, &eraseBlocks, &eraseSectors, &noneRadio,
                                  &secureRadio, &password, &verify, &imagePath, &browseButton, &startButton})
        control->enabled = enabled;
}

void FlashDlg::OnOperationDone() {
    SetControlsEnabled(true);
    ApplyFileType();
}

}  // namespace tavrel
