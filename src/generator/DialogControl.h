#pragma once
// Controls of a window held as plain state, so the window's rules run and are tested without a
// window system; a view mirrors this state into real widgets and reports the user's actions.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tavrel::generator {

enum class ControlKind { Group, RadioButton, CheckBox, DropDownList, HexEdit, Edit, Button };

struct DialogControl {
    int id = 0;
    ControlKind kind = ControlKind::Edit;
    std::string text;   // caption of a group, radio button, check box or button; content of an edit
    std::string label;  // the static text beside a list or an edit field
    std::vector<std::string> items;  // drop-down list entries
    int selection = -1;
    bool checked = false;
    bool enabled = true;
    bool visible = true;
    bool readOnly = false;
    size_t maxLength = 0;  // characters the user may type; 0: no limit
    size_t caret = 0;      // caret position in text
};

// The common open-file and save-file dialogs, as the window asks for them.
struct FileDialogRequest {
    bool save = false;
    std::string filter;            // "Description|pattern|...|" in the dialogs' own notation
    std::string defaultExtension;  // save only
    bool hideReadOnly = true;
    bool pathMustExist = true;     // the folder must exist
    bool fileMustExist = false;    // open only
    bool overwritePrompt = false;  // save: ask before replacing an existing file
    bool noReadOnlyReturn = false; // save: refuse read-only targets
    size_t maxPath = 256;
};

class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The full path the user chose, or nothing when the dialog was cancelled.
    virtual std::optional<std::string> ChooseFile(const FileDialogRequest& request) = 0;
};

}  // namespace tavrel::generator
