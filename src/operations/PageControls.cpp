#include "operations/PageControls.h"

#include <algorithm>
#include <cctype>

namespace tavrel {

ControlState ListControl(std::string label, std::vector<std::string> items, int selection) {
    ControlState list(ControlKind::DropDownList);
    list.label = std::move(label);
    list.items = std::move(items);
    list.selection = selection;
    return list;
}

ControlState HexFieldControl(std::string label) {
    ControlState field(ControlKind::HexEdit);
    field.label = std::move(label);
    field.maxLength = kHexFieldLength;
    field.enabled = false;
    return field;
}

std::optional<uint32_t> HexValue(const std::string& text) {
    if (text.empty() || text.size() > kHexFieldLength ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); }))
        return std::nullopt;
    return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
}

void CheckRadio(ControlState& radio, std::initializer_list<ControlState*> others) {
    radio.checked = true;
    for (ControlState* other : others) other->checked = false;
}

void RefuseField(UserPrompt& prompt, ControlState& field, const char* message, bool clearFirst) {
    if (clearFirst) field.text.clear();
    prompt.ShowMessage(message, MessageIcon::Warning);
    field.text.clear();
    field.caret = 0;
    field.focused = true;
    ++field.focusRequests;
}

std::optional<uint32_t> ReadPasswordField(UserPrompt& prompt, ControlState& password) {
    if (password.text.size() != kHexFieldLength) {
        RefuseField(prompt, password, kPasswordLength, false);
        return std::nullopt;
    }
    const std::optional<uint32_t> value = HexValue(password.text);
    if (!value) RefuseField(prompt, password, kInvalidPassword, true);
    return value;
}

int EraseModeOf(const ControlState& eraseBlocks, const ControlState& eraseSectors) {
    return eraseBlocks.checked ? kEraseBlocksByFile : eraseSectors.checked ? kEraseSectorsByFile : kEraseAllFlash;
}

std::optional<std::string> TakeImagePath(UserPrompt& prompt, const ControlState& imagePath) {
    if (!imagePath.text.empty()) return imagePath.text;
    prompt.ShowMessage(kImagePathEmpty, MessageIcon::Warning);
    return std::nullopt;
}

void ClickEraseRadio(ControlState& eraseAll, ControlState& eraseBlocks, ControlState& eraseSectors, int mode) {
    ControlState* radios[] = {&eraseAll, &eraseBlocks, &eraseSectors};
    if (mode < 0 || mode > 2 || !radios[mode]->enabled) return;
    for (int i = 0; i < 3; ++i) radios[i]->checked = i == mode;
}

void ToggleCheckBox(ControlState& box) {
    if (box.enabled) box.checked = !box.checked;
}

void ShowImagePath(const std::string& path, ControlState& imagePath, ControlState& startButton) {
    imagePath.text = path;
    imagePath.caret = path.size();
    startButton.enabled = true;
}

bool BrowseImage(FileChooser* chooser, const ControlState& browseButton, const char* filter, ControlState& imagePath,
                 ControlState& startButton) {
    if (!chooser || !browseButton.enabled) return false;
    FileDialogRequest request;
    request.filter = filter;
    request.fileMustExist = true;
    request.pathMustExist = true;
    request.hideReadOnly = true;
    const std::optional<std::string> chosen = chooser->ChooseFile(request);
    if (!chosen) return false;
    ShowImagePath(*chosen, imagePath, startButton);
    return true;
}

}  // namespace tavrel
