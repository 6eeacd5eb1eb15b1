#include "operations/FlashDlg.h"

#include "operations/PageControls.h"

namespace tavrel {

namespace {

constexpr uint32_t kFlashAddressLimit = 0x100000;

}  // namespace

FlashDlg::FlashDlg(UserPrompt& prompt, FileChooser* chooser) : ProgramPageTail(prompt, chooser, "Step4: Options") {
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
}

void FlashDlg::ApplyFileType() {
    const bool hex = hexRadio.checked;
    ApplySecurity(hex);
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

bool FlashDlg::Select(ControlState& list, int index) {
    if (!list.enabled || index < 0 || static_cast<size_t>(index) >= list.items.size()) return false;
    list.selection = index;
    return true;
}

bool FlashDlg::Browse() { return BrowseWith(hexRadio.checked ? kHexFilter : kBinFilter); }

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
    const std::optional<uint32_t> value = TakePassword(prompt_);
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
    request.target = target;

    request.eraseMode = EraseMode();
    if (noneRadio.checked) request.securityMode = kNoSecurityMode;
    request.verify = verify.checked ? kVerifyAfterProgramming : kNoVerify;

    const std::optional<std::string> path = TakeImagePath();
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
    for (ControlState* control :
         {&hexRadio, &binRadio, &flashAddress, &qspiMode, &initMemMode, &finalMemMode, &crcMode, &clockSource})
        control->enabled = enabled;
    SetSecurityEnabled(enabled);
    SetTailEnabled(enabled);
}

void FlashDlg::OnOperationDone() {
    SetControlsEnabled(true);
    ApplyFileType();
}

}  // namespace tavrel
