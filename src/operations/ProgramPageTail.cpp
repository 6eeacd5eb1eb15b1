#include "operations/ProgramPageTail.h"

#include "operations/ProgramRequest.h"

namespace tavrel {

ProgramPageTail::ProgramPageTail(UserPrompt& prompt, FileChooser* chooser, const char* optionsTitle)
    : optionsGroup(ControlKind::Group, optionsTitle), prompt_(prompt), chooser_(chooser) {
    eraseAll.checked = true;
    imagePath.readOnly = true;
    startButton.enabled = false;
}

void ProgramPageTail::ClickEraseMode(int mode) {
    ControlState* radios[] = {&eraseAll, &eraseBlocks, &eraseSectors};
    if (mode < 0 || mode > 2 || !radios[mode]->enabled) return;
    for (int i = 0; i < 3; ++i) radios[i]->checked = i == mode;
}

void ProgramPageTail::ClickVerify() {
    if (verify.enabled) verify.checked = !verify.checked;
}

void ProgramPageTail::SetImagePath(const std::string& path) {
    imagePath.text = path;
    imagePath.caret = path.size();
    startButton.enabled = true;
}

int ProgramPageTail::EraseMode() const {
    return eraseBlocks.checked ? kEraseBlocksByFile : eraseSectors.checked ? kEraseSectorsByFile : kEraseAllFlash;
}

bool ProgramPageTail::BrowseWith(const char* filter) {
    if (!chooser_ || !browseButton.enabled) return false;
    FileDialogRequest request;
    request.filter = filter;
    request.fileMustExist = true;
    request.pathMustExist = true;
    request.hideReadOnly = true;
    const std::optional<std::string> chosen = chooser_->ChooseFile(request);
    if (!chosen) return false;
    SetImagePath(*chosen);
    return true;
}

std::optional<std::string> ProgramPageTail::TakeImagePath() const {
    if (!imagePath.text.empty()) return imagePath.text;
    prompt_.ShowMessage(kImagePathEmpty, MessageIcon::Warning);
    return std::nullopt;
}

void ProgramPageTail::SetTailEnabled(bool enabled) {
    for (ControlState* control :
         {&eraseAll, &eraseBlocks, &eraseSectors, &verify, &imagePath, &browseButton, &startButton})
        control->enabled = enabled;
}

}  // namespace tavrel
