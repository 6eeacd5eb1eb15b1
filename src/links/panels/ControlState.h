#pragma once
// The state of a dialog's controls as plain data: what a view shows and what its handlers
// change. A window system mirrors it; tests and the command line read and press it directly.
#include <cstddef>
#include <string>
#include <vector>

namespace tavrel {

struct ControlState {
    std::string text;
    bool enabled = true;
    bool visible = true;
};

// Radio buttons and check boxes.
struct ToggleState : ControlState {
    bool checked = false;
};

// Single-line edit fields.
struct EditState : ControlState {
    size_t maxLength = 0;  // 0: no limit
    bool focused = false;
};

// Drop-down and list boxes with one selection.
struct ChoiceState {
    std::vector<std::string> items;
    int selected = -1;
    bool enabled = true;
    bool visible = true;

    bool HasSelection() const { return selected >= 0 && static_cast<size_t>(selected) < items.size(); }
    std::string SelectedText() const { return HasSelection() ? items[static_cast<size_t>(selected)] : std::string(); }
};

}  // namespace tavrel
