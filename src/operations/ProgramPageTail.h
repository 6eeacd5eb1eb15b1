#pragma once
// The steps every program page ends with: the erase mode, the options and the file. The three
// program pages hold one each (as their base), so the handlers, the enabling and Start's last
// checks are written once; the HEX pages add the security step (SecurityStep).
#include <optional>
#include <string>

#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"
#include "widgets/FileChooser.h"

namespace tavrel {

inline constexpr const char* kImagePathEmpty = "Target Image Path is empty ! \n";

class ProgramPageTail {
public:
    // A click on one of the three erase radios (0 all, 1 blocks by file, 2 sectors by file); a
    // disabled radio ignores it.
    void ClickEraseMode(int mode);
    // A click on "Verify after programming"; disabled, it ignores it.
    void ClickVerify();
    // The chosen path as the dialog delivers it (also the command line's file option and a loaded
    // settings file): shown in the read-only path field, caret at its end, and Start enabled.
    void SetImagePath(const std::string& path);

    // The erase mode of the three radios (all flash when neither of the other two is checked).
    int EraseMode() const;

    // Step2: Erase Mode
    ControlState eraseGroup{ControlKind::Group, "Step2: Erase Mode"};
    ControlState eraseAll{ControlKind::RadioButton, "Erase all flash"};
    ControlState eraseBlocks{ControlKind::RadioButton, "Erase flash blocks by file"};
    ControlState eraseSectors{ControlKind::RadioButton, "Erase flash sectors by file"};
    // The options step ("Step4: Options", or "Step3: Options" on a page without a security step)
    ControlState optionsGroup;
    ControlState verify{ControlKind::CheckBox, "Verify after programming"};
    // Step5: File
    ControlState fileGroup{ControlKind::Group, "Step5: File"};
    ControlState imagePath{ControlKind::Edit};
    ControlState browseButton{ControlKind::Button, "Browse..."};
    ControlState startButton{ControlKind::Button, "Start"};

protected:
    // chooser may be null when no file dialog can be shown (Browse then does nothing).
    ProgramPageTail(UserPrompt& prompt, FileChooser* chooser, const char* optionsTitle);

    // The open-file dialog with the page's filter (the file must exist); the chosen file is shown
    // as SetImagePath does. False when cancelled or when there is no dialog.
    bool BrowseWith(const char* filter);
    // The image path field's text; none after "Target Image Path is empty ! \n".
    std::optional<std::string> TakeImagePath() const;
    // The tail's controls, locked for a run and freed after it.
    void SetTailEnabled(bool enabled);

    UserPrompt& prompt_;
    FileChooser* chooser_;
};

}  // namespace tavrel
