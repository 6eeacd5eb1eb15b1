#include "operations/FlashDlg.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace tavrel {

namespace {

constexpr size_t kHexFieldLength = 8;
constexpr uint32_t kFlashAddressLimit = 0x100000;

ControlState List(std::string label, std::vector<std::string> items, int selection) {
    ControlState list(ControlKind::DropDownList);
    list.label = std::move(label);
    list.items = std::move(items);
    list.selection = selection;
    return list;
}

ControlState HexField(std::string label) {
    ControlState field(ControlKind::HexEdit);
    field.label = std::move(label);
    field.maxLength = kHexFieldLength;
    field.enabled = false;
    return field;
}

// 8 digits at most, so the value always fits; only hexadecimal digits are a number.
std::optional<uint32_t> HexValue(const std::string& text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); }))
        return std::nullopt;
    return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
}

void Check(ControlState& radio, std::initializer_list<ControlState*> others) {
    radio.checked = true;
    for (ControlState* other : others) other->checked = false;
}

}  // namespace

FlashDlg::FlashDlg(UserPrompt& prompt, FileChooser* chooser) : prompt_(prompt), chooser_(chooser) {
    hexRadio.checked = true;
    flashAddress = HexField("0x : ");
    qspiMode = List("QSPI  Mode", {"Normal read", "Fast Read", "Fast read dual out", "Fast read quad out"}, 0);
    initMemMode = List("Init Mem Mode", {"Normal", "Alt cfg 0", "Alt cfg 1"}, 0);
    finalMemMode = List("Final Mem Mode", {"Normal", "Alt cfg 0", "Alt cfg 1"}, 0);
    crcMode = List("CRC Mode", {"CRC-16-CCITT", "CRC-16-IBM", "CRC-16-T10_DIF", "CRC-32-IEEE", "No CRC"}, 4);
    clockSource = List("Clock Source",
                       {"System:200MHz,Reference:XTAL32M", "System:200MHz,Reference:RC32M", "System:X32M",
                        "System:RC32M"},
                       3);
    eraseAll.checked = true;
    noneRadio.checked = true;
    password = HexField("Password: 0x");
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
    Check(hexRadio, {&binRadio});
    ApplyFileType();
}

void FlashDlg::ClickBin() {
    if (!binRadio.enabled) return;
    Check(binRadio, {&hexRadio});
    ApplyFileType();
}

void FlashDlg::ClickSecure() {
    if (!secureRadio.enabled) return;
    Check(secureRadio, {&noneRadio});
    password.enabled = true;
}

void FlashDlg::ClickNone() {
    if (!noneRadio.enabled) return;
    Check(noneRadio, {&secureRadio});
    password.enabled = false;
}

void FlashDlg::ClickEraseMode(int mode) {
    ControlState* radios[] = {&eraseAll, &eraseBlocks, &eraseSectors};
    if (mode < 0 || mode > 2 || !radios[mode]->enabled) return;
    for (int i = 0; i < 3; ++i) radios[i]->checked = i == mode;
}

void FlashDlg::ClickVerify() {
    if (verify.enabled) verify.checked = !verify.checked;
}

bool FlashDlg::Select(ControlState& list, int index) {
    if (!list.enabled || index < 0 || static_cast<size_t>(index) >= list.items.size()) return false;
    list.selection = index;
    return true;
}

bool FlashDlg::Browse() {
    if (!chooser_ || !browseButton.enabled) return false;
    FileDialogRequest request;
    request.filter = hexRadio.checked ? kHexFilter : kBinFilter;
    request.fileMustExist = true;
    request.pathMustExist = true;
    request.hideReadOnly = true;
    const std::optional<std::string> chosen = chooser_->ChooseFile(request);
    if (!chosen) return false;
    SetImagePath(*chosen);
    return true;
}

void FlashDlg::SetImagePath(const std::string& path) {
    imagePath.text = path;
    imagePath.caret = path.size();
    startButton.enabled = true;
}

void FlashDlg::Refuse(ControlState& field, const char* message, bool clearFirst) {
    if (clearFirst) field.text.clear();
    prompt_.ShowMessage(message, MessageIcon::Warning);
    field.text.clear();
    field.caret = 0;
    field.focused = true;
}

bool FlashDlg::ReadFlashAddress(ProgramRequest& request) {
    const std::string& text = flashAddress.text;
    if (text.empty() || text.size() > kHexFieldLength) {
        Refuse(flashAddress, kAddressLength, true);
        return false;
    }
    // Text that is not a number is refused like an address beyond the flash.
    const std::optional<uint32_t> value = HexValue(text);
    if (!value || *value >= kFlashAddressLimit) {
        Refuse(flashAddress, kInvalidAddress, true);
        return false;
    }
    request.flashStartAddress = *value;
    return true;
}

bool FlashDlg::ReadPassword(ProgramRequest& request) {
    if (password.text.size() != kHexFieldLength) {
        Refuse(password, kPasswordLength, false);
        return false;
    }
    const std::optional<uint32_t> value = HexValue(password.text);
    if (!value) {
        Refuse(password, kInvalidPassword, true);
        return false;
    }
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
    request.interfaceName = target.interfaceName;
    if (target.interfaceName == "UART") {
        request.comPort = target.comPort;
        request.baudRate = target.baudRate;
    } else if (target.interfaceName == "JLINK") {
        request.jtagSpeed = target.jlinkSpeedKhz;
    }
    request.target = target;

    request.eraseMode = eraseBlocks.checked ? kEraseBlocksByFile : eraseSectors.checked ? kEraseSectorsByFile
                                                                                        : kEraseAllFlash;
    if (noneRadio.checked) request.securityMode = kNoSecurityMode;
    request.verify = verify.checked ? kVerifyAfterProgramming : kNoVerify;

    request.imagePath = imagePath.text;
    if (request.imagePath.empty()) {
        prompt_.ShowMessage(kPathEmpty, MessageIcon::Warning);
        return std::nullopt;
    }
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
