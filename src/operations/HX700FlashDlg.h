#pragma once
// The KR2H70X program page: a ready boot image (bin) written at a typed flash offset, its erase
// mode and verification; Start checks the fields and fills the HX700ProgramRequest. The main
// window's own controls and the link panels are the main window's to lock and free.
#include <optional>

#include "model/Catalogue.h"
#include "operations/HX700ProgramRequest.h"
#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"
#include "widgets/FileChooser.h"

namespace tavrel {

class HX700FlashDlg {
public:
    static constexpr const char* kFilter = "Image Files (*.bin)|*.bin||";
    static constexpr const char* kInvalidAddress = "Invalid flash address ! \n";

    // chooser may be null when no file dialog can be shown (Browse then does nothing).
    explicit HX700FlashDlg(UserPrompt& prompt, FileChooser* chooser = nullptr);

    void ClickEraseMode(int mode);  // 0 all, 1 blocks by file, 2 sectors by file
    // The main window's interface rule: "USB" has no block erase, so "Erase flash blocks by file"
    // is disabled (a page in that mode goes back to "Erase all flash").
    void AllowBlockErase(bool allowed);
    void ClickVerify();
    // The file-open dialog; the chosen path goes into the path field and enables Start. False when
    // cancelled (nothing changes).
    bool Browse();
    void SetImagePath(const std::string& path);

    // Checks the fields against the target's flash type and fills the request. None after a
    // message; otherwise the page's controls are disabled for the run.
    std::optional<HX700ProgramRequest> Start(const TargetSelection& target);
    // The run has finished: the controls are enabled again ("Erase flash blocks by file" stays
    // off over USB, whose boot ROM has no block erase).
    void OnOperationDone(const std::string& interfaceName);

    // Step1: Flash Address
    ControlState addressGroup{ControlKind::Group, "Step1: Flash Address"};
    ControlState binFileLabel{ControlKind::Label, "Bin File"};
    ControlState flashAddressLabel{ControlKind::Label, "Flash Start Address"};
    ControlState flashAddress{ControlKind::HexEdit};  // label: its prefix
    // Step2: Erase Mode
    ControlState eraseGroup{ControlKind::Group, "Step2: Erase Mode"};
    ControlState eraseAll{ControlKind::RadioButton, "Erase all flash"};
    ControlState eraseBlocks{ControlKind::RadioButton, "Erase flash blocks by file"};
    ControlState eraseSectors{ControlKind::RadioButton, "Erase flash sectors by file"};
    // Step3: Options
    ControlState optionsGroup{ControlKind::Group, "Step3: Options"};
    ControlState verify{ControlKind::CheckBox, "Verify after programming"};
    // Step5: File
    ControlState fileGroup{ControlKind::Group, "Step5: File"};
    ControlState imagePath{ControlKind::Edit};
    ControlState browseButton{ControlKind::Button, "Browse..."};
    ControlState startButton{ControlKind::Button, "Start"};

private:
    void SetControlsEnabled(bool enabled);

    UserPrompt& prompt_;
    FileChooser* chooser_;
};

}  // namespace tavrel
