#pragma once
// The read page: the range to read, where it goes (a bin file or the display window), its
// checks and its settings; the display's dump and its text file.
#include <optional>
#include <string>

#include "model/Catalogue.h"
#include "operations/ReadWorker.h"
#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"
#include "widgets/FileChooser.h"

namespace tavrel {

class ReadDlg {
public:
    ReadDlg();

    void ClickSaveToFile();
    void ClickDisplay();
    // "Browse": the bin file to save to.
    void PressBrowse(FileChooser& chooser);
    // Read: the settings for the worker, with the page locked; none after a message.
    std::optional<ReadSettings> PressRead(const TargetSelection& target, UserPrompt& prompt);
    // A block the worker read in display mode: its dump lines go to the end of the list.
    void ReceiveDisplayBlock(const ReadDisplayBlock& block);
    // "Save ": the dump list as a text file.
    bool PressSave(FileChooser& chooser, UserPrompt& prompt);
    void OperationDone();

    ReadMode mode() const { return mode_; }

    ControlState modeGroup{ControlKind::Group, "Step1: Read mode"};
    ControlState saveRadio{ControlKind::RadioButton, "Save to file"};
    ControlState displayRadio{ControlKind::RadioButton, "Display in window"};
    ControlState fileLabel{ControlKind::Label, "File: "};
    ControlState fileField{ControlKind::Edit};
    ControlState browseButton{ControlKind::Button, "Browse"};
    ControlState configGroup{ControlKind::Group, "Step2: Configuration"};
    ControlState addressLabel{ControlKind::Label, "Flash address: 0x"};
    ControlState addressField{ControlKind::HexEdit};
    ControlState lengthLabel{ControlKind::Label, "Length of byte: 0x"};
    ControlState lengthField{ControlKind::HexEdit};
    ControlState displayGroup{ControlKind::Group, "Display window"};
    ControlState dumpList{ControlKind::DropDownList};
    ControlState saveLabel{ControlKind::Label, "Save display window to text file"};
    ControlState savePathField{ControlKind::Edit};
    ControlState saveButton{ControlKind::Button, "Save "};
    ControlState readButton{ControlKind::Button, "Read"};

private:
    void SetLocked(bool locked);
    ReadMode mode_ = ReadMode::SaveToFile;
};

}  // namespace tavrel
