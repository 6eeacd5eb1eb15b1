#pragma once
// The common open-file and save-file dialogs, as a presentation model asks for them; the view
// shows the platform's dialog, tests answer from a script.
#include <cstddef>
#include <optional>
#include <string>

namespace tavrel {

struct FileDialogRequest {
    bool save = false;
    std::string filter;             // "Description|pattern|...|" in the dialogs' own notation
    std::string defaultExtension;   // save only
    bool hideReadOnly = true;
    bool pathMustExist = true;      // the folder must exist
    bool fileMustExist = false;     // open only
    bool overwritePrompt = false;   // save: ask before replacing an existing file
    bool noReadOnlyReturn = false;  // save: refuse read-only targets
    size_t maxPath = 256;
};

class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The full path the user chose, or nothing when the dialog was cancelled.
    virtual std::optional<std::string> ChooseFile(const FileDialogRequest& request) = 0;
};

}  // namespace tavrel
