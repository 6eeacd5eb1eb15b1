#pragma once
// One control of a presentation model as plain state: what a view shows and what the model's
// handlers change. Every dialog and panel of both programs holds its controls in this one type,
// so one binder can mirror any of them into real widgets and carry the user's changes back, and
// tests and the command line read and press them directly.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace tavrel {

enum class ControlKind { Label, Group, Button, RadioButton, CheckBox, Edit, HexEdit, DropDownList };

struct ControlState {
    ControlState() = default;
    // A control of the given kind and caption, in its initial state otherwise.
    explicit ControlState(ControlKind controlKind, std::string caption = {})
        : kind(controlKind), text(std::move(caption)) {}

    ControlKind kind = ControlKind::Label;
    int id = 0;         // the dialog's own control id; 0 where the model names the control by a member
    std::string text;   // caption of a label, group, button, radio button or check box; content of an edit
    std::string label;  // the static text beside a list or an edit field, where the model keeps it
    bool checked = false;  // radio buttons and check boxes
    bool enabled = true;
    bool visible = true;
    bool readOnly = false;  // edit fields: only the program changes the text
    bool focused = false;
    unsigned focusRequests = 0;  // raised by each refusal, so every one puts the focus back
    size_t maxLength = 0;  // edit fields: characters the user may type; 0: no limit
    bool decimalDigits = false;  // edit fields: only the digits 0-9 may be typed
    size_t caret = 0;      // edit fields: caret position in text
    std::vector<std::string> items;  // list entries
    int selection = -1;              // the selected entry; -1: none
    std::vector<int> selections;     // multi-selection lists: the selected entries, ascending

    bool HasSelection() const { return selection >= 0 && static_cast<size_t>(selection) < items.size(); }
    std::string SelectedText() const {
        return HasSelection() ? items[static_cast<size_t>(selection)] : std::string();
    }
};

}  // namespace tavrel
