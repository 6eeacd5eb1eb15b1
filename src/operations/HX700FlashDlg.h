#pragma once
// The KR2H70X program page: a ready boot image (bin) written at a typed flash offset, its erase
// mode and verification; Start checks the fields and fills the HX700ProgramRequest. The main
// window's own controls and the link panels are the main window's to lock and free.
#include <optional>

#include "model/InterfaceKind.h"

#include "model/Catalogue.h"
#include "operations/HX700ProgramRequest.h"
#include "operations/ProgramPageTail.h"
#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"
#include "widgets/FileChooser.h"

namespace tavrel {

class HX700FlashDlg : public ProgramPageTail {
public:
    static constexpr const char* kFilter = "Image Files (*.bin)|*.bin||";
    static constexpr const char* kInvalidAddress = "Invalid flash address ! \n";

    // chooser may be null when no file dialog can be shown (Browse then does nothing).
    explicit HX700FlashDlg(UserPrompt& prompt, FileChooser* chooser = nullptr);

    // The main window's interface rule: "USB" has no block erase, so "Erase flash blocks by file"
    // is disabled (a page in that mode goes back to "Erase all flash").
    void AllowBlockErase(bool allowed);
    // The file-open dialog; the chosen path goes into the path field and enables Start. False when
    // cancelled (nothing changes).
    bool Browse();

    // Checks the fields against the target's flash type and fills the request. None after a
    // message; otherwise the page's controls are disabled for the run.
    std::optional<HX700ProgramRequest> Start(const TargetSelection& target);
    // The run has finished: the controls are enabled again ("Erase flash blocks by file" stays
    // off over USB, whose boot ROM has no block erase).
    void OnOperationDone(std::optional<InterfaceKind> usedInterface);

    // Step1: Flash Address
    ControlState addressGroup{ControlKind::Group, "Step1: Flash Address"};
    ControlState binFileLabel{ControlKind::Label, "Bin File"};
    ControlState flashAddressLabel{ControlKind::Label, "Flash Start Address"};
    ControlState flashAddress{ControlKind::HexEdit};  // label: its prefix
    // Steps 2, 3 and 5 (erase mode, options, file) are the tail's.

private:
    void SetControlsEnabled(bool enabled);
};

}  // namespace tavrel
