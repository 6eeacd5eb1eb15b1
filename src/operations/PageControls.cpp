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

}  // namespace tavrel
