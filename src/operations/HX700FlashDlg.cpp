#include "operations/HX700FlashDlg.h"

#include <initializer_list>

#include "operations/PageControls.h"

namespace tavrel {

HX700FlashDlg::HX700FlashDlg(UserPrompt& prompt, FileChooser* chooser) : prompt_(prompt), chooser_(chooser) {
    flashAddress.label = "0x: ";
    flashAddress.maxLength = kHexFieldLength;
    eraseAll.checked = true;
    imagePath.readOnly = true;
    startButton.enabled = false;
}

void HX700FlashDlg::ClickEraseMode(int mode) { ClickEraseRadio(eraseAll, eraseBlocks, eraseSectors, mode); }

void HX700FlashDlg::ClickVerify() { ToggleCheckBox(verify); }

bool HX700FlashDlg::Browse() {
    return BrowseImage(chooser_, browseButton, kFilter, imagePath, startButton);
}

void HX700FlashDlg::SetImagePath(const std::string& path) { ShowImagePath(path, imagePath, startButton); }

std::optional<HX700ProgramRequest> HX700FlashDlg::Start(const TargetSelection& target) {
    HX700ProgramRequest request;
    request.chip = target.family;
    TakeLinkSettings(request, target);
    request.flashTypeCode = target.flashTypeCode;
    request.flashSize = target.flashCapacity;

    const std::optional<uint32_t> address = HexValue(flashAddress.text);
    if (!address || request.flashSize == 0 || *address > request.flashSize - 1) {
        flashAddress.text.clear();
        flashAddress.caret = 0;
        prompt_.ShowMessage(kInvalidAddress, MessageIcon::Warning);
        return std::nullopt;
    }
    request.flashStartAddress = *address;
    request.eraseMode = EraseModeOf(eraseBlocks, eraseSectors);
    request.verify = verify.checked ? 1 : 0;
    const std::optional<std::string> path = TakeImagePath(prompt_, imagePath);
    if (!path) return std::nullopt;
    request.imagePath = *path;
    SetControlsEnabled(false);
    return request;
}

void HX700FlashDlg::SetControlsEnabled(bool enabled) {
    for (ControlState* control : {&flashAddress, &eraseAll, &eraseBlocks, &eraseSectors, &verify, &imagePath,
                                  &browseButton, &startButton})
        control->enabled = enabled;
}

void HX700FlashDlg::AllowBlockErase(bool allowed) {
    eraseBlocks.enabled = allowed;
    if (!allowed && eraseBlocks.checked) ClickEraseMode(kEraseAllFlash);
}

void HX700FlashDlg::OnOperationDone(const std::string& interfaceName) {
    SetControlsEnabled(true);
    eraseBlocks.enabled = interfaceName != "USB";
}

}  // namespace tavrel
