#include "operations/HX700FlashDlg.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace tavrel {

namespace {

constexpr size_t kHexFieldLength = 8;

// Only hexadecimal digits are a number; an empty field is none (refused, never taken as 0).
std::optional<uint32_t> HexValue(const std::string& text) {
    if (text.empty() || text.size() > kHexFieldLength ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); }))
        return std::nullopt;
    return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
}

}  // namespace

HX700FlashDlg::HX700FlashDlg(UserPrompt& prompt, FileChooser* chooser) : prompt_(prompt), chooser_(chooser) {
    flashAddress.label = "0x: ";
    flashAddress.maxLength = kHexFieldLength;
    eraseAll.checked = true;
    imagePath.readOnly = true;
    startButton.enabled = false;
}

void HX700FlashDlg::ClickEraseMode(int mode) {
    ControlState* radios[] = {&eraseAll, &eraseBlocks, &eraseSectors};
    if (mode < 0 || mode > 2 || !radios[mode]->enabled) return;
    for (int i = 0; i < 3; ++i) radios[i]->checked = i == mode;
}

void HX700FlashDlg::ClickVerify() {
    if (verify.enabled) verify.checked = !verify.checked;
}

bool HX700FlashDlg::Browse() {
    if (!chooser_ || !browseButton.enabled) return false;
    FileDialogRequest request;
    request.filter = kFilter;
    request.fileMustExist = true;
    request.pathMustExist = true;
    request.hideReadOnly = true;
    const std::optional<std::string> chosen = chooser_->ChooseFile(request);
    if (!chosen) return false;
    SetImagePath(*chosen);
    return true;
}

void HX700FlashDlg::SetImagePath(const std::string& path) {
    imagePath.text = path;
    imagePath.caret = path.size();
    startButton.enabled = true;
}

std::optional<HX700ProgramRequest> HX700FlashDlg::Start(const TargetSelection& target) {
    HX700ProgramRequest request;
    request.chip = target.family;
    request.interfaceName = target.interfaceName;
    if (target.interfaceName == "UART") {
        request.comPort = target.comPort;
        request.baudRate = target.baudRate;
    } else if (target.interfaceName == "JLINK") {
        request.jtagSpeed = target.jlinkSpeedKhz;
    }
    request.flashTypeCode = target.flashTypeCode;
    request.flashSize = target.flashCapacity;
    request.target = target;

    const std::optional<uint32_t> address = HexValue(flashAddress.text);
    if (!address || request.flashSize == 0 || *address > request.flashSize - 1) {
        flashAddress.text.clear();
        flashAddress.caret = 0;
        prompt_.ShowMessage(kInvalidAddress, MessageIcon::Warning);
        return std::nullopt;
    }
    request.flashStartAddress = *address;
    request.eraseMode = eraseBlocks.checked ? kEraseBlocksByFile : eraseSectors.checked ? kEraseSectorsByFile
                                                                                        : kEraseAllFlash;
    request.verify = verify.checked ? 1 : 0;
    request.imagePath = imagePath.text;
    if (request.imagePath.empty()) {
        prompt_.ShowMessage(kPathEmpty, MessageIcon::Warning);
        return std::nullopt;
    }
    SetControlsEnabled(false);
    return request;
}

void HX700FlashDlg::SetControlsEnabled(bool enabled) {
    for (ControlState* control : {&flashAddress, &eraseAll, &eraseBlocks, &eraseSectors, &verify, &imagePath,
                                  &browseButton, &startButton})
        control->enabled = enabled;
}

void HX700FlashDlg::OnOperationDone(const std::string& interfaceName) {
    SetControlsEnabled(true);
    eraseBlocks.enabled = interfaceName != "USB";
}

}  // namespace tavrel
