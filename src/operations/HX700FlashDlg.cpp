#include "operations/HX700FlashDlg.h"

#include <initializer_list>

#include "operations/PageControls.h"

namespace tavrel {

HX700FlashDlg::HX700FlashDlg(UserPrompt& prompt, FileChooser* chooser)
    : ProgramPageTail(prompt, chooser, "Step3: Options") {
    flashAddress.label = "0x: ";
    flashAddress.maxLength = kHexFieldLength;
}

bool HX700FlashDlg::Browse() { return BrowseWith(kFilter); }

std::optional<HX700ProgramRequest> HX700FlashDlg::Start(const TargetSelection& target) {
    HX700ProgramRequest request;
    request.chip = target.family;
    request.target = target;
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
    request.eraseMode = EraseMode();
    request.verify = verify.checked ? 1 : 0;
    const std::optional<std::string> path = TakeImagePath();
    if (!path) return std::nullopt;
    request.imagePath = *path;
    SetControlsEnabled(false);
    return request;
}

void HX700FlashDlg::SetControlsEnabled(bool enabled) {
    flashAddress.enabled = enabled;
    SetTailEnabled(enabled);
}

void HX700FlashDlg::AllowBlockErase(bool allowed) {
    eraseBlocks.enabled = allowed;
    if (!allowed && eraseBlocks.checked) ClickEraseMode(kEraseAllFlash);
}

void HX700FlashDlg::OnOperationDone(std::optional<InterfaceKind> usedInterface) {
    SetControlsEnabled(true);
    eraseBlocks.enabled = usedInterface != InterfaceKind::Usb;
}

}  // namespace tavrel
