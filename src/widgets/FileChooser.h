#pragma once
// The file open and save choosers a page raises (Browse, Save): the desktop shows its dialog,
// the command line answers with the path its options name, tests answer from a script.
#include <optional>
#include <string>

namespace tavrel {

struct FileChoice {
    bool save = false;             // a save chooser (else open)
    std::string defaultExtension;  // added to a name typed without one
    std::string filter;            // "Image Files (*.bin)|*.bin||"
    bool overwritePrompt = false;
    bool pathMustExist = false;
};

class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The chosen path, or none when the user cancelled.
    virtual std::optional<std::string> Choose(const FileChoice& choice) = 0;
};

}  // namespace tavrel
