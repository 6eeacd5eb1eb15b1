#pragma once
// The KR2A600 program page: its controls with their texts, choices and initial states, the
// enabling rules, Browse, and Start, which checks the fields in a fixed order with fixed messages
// and fills the ProgramRequest the worker runs. The main window's own controls and the link
// panels are the main window's to lock and free.
#include <optional>
#include <string>
#include <string_view>

#include "model/Catalogue.h"
#include "operations/ProgramPageTail.h"
#include "operations/ProgramRequest.h"
#include "operations/SecurityStep.h"
#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"
#include "widgets/FileChooser.h"

namespace tavrel {

// The KR2A600 page's security note: the note and the warning in one text.
inline constexpr std::string_view kFlashSecurityNote =
    "Note: Please remember the password         Warning: If password is set,JTag will be closed";

class FlashDlg : public ProgramPageTail, public SecurityStep {
public:
    // The HEX filter first, then the other image formats a HEX image may come as.
    static constexpr const char* kHexFilter =
        "Image Files (*.hex)|*.hex|Image Files (*.bin)|*.bin|ELF files (*.elf;*.axf;*.out)|*.elf;*.axf;*.out|"
        "S-record files (*.srec;*.s19;*.s28;*.s37;*.mot)|*.srec;*.s19;*.s28;*.s37;*.mot||";
    static constexpr const char* kBinFilter =
        "Image Files (*.bin)|*.bin|Image Files (*.hex)|*.hex|ELF files (*.elf;*.axf;*.out)|*.elf;*.axf;*.out|"
        "S-record files (*.srec;*.s19;*.s28;*.s37;*.mot)|*.srec;*.s19;*.s28;*.s37;*.mot||";

    static constexpr const char* kAddressLength = " Flash address should be 8 bytes, Please check data!";
    static constexpr const char* kInvalidAddress = "Invalid flash address ! \n";

    // chooser may be null when no file dialog can be shown (Browse then does nothing).
    explicit FlashDlg(UserPrompt& prompt, FileChooser* chooser = nullptr);

    // The file-type radios as the user clicks them (the other steps' clicks are the tail's and
    // the security step's).
    void ClickHex();
    void ClickBin();
    // An entry of one of the five lists; false when the list is disabled or the index outside it.
    bool Select(ControlState& list, int index);

    // The file-open dialog with the filter of the checked file type; the chosen path goes into the
    // path field and enables Start. False when cancelled (nothing changes).
    bool Browse();

    // Checks the fields and fills the request with the target as the main window has it now.
    // None after a message (the page stays as it was apart from the field the message names).
    // Otherwise the page's controls are disabled for the run.
    std::optional<ProgramRequest> Start(const TargetSelection& target);
    // The Enter key in an edit field: in the flash start address or the password it is Start.
    std::optional<ProgramRequest> PressEnter(const ControlState& field, const TargetSelection& target);

    // The run has finished: what Start disabled is enabled again, by the page's rules.
    void OnOperationDone();

    // Step1: File Type
    ControlState fileTypeGroup{ControlKind::Group, "Step1: File Type"};
    ControlState hexRadio{ControlKind::RadioButton, "Hex"};
    ControlState binRadio{ControlKind::RadioButton, "Bin"};
    ControlState flashAddressLabel{ControlKind::Label, "Flash Start Address"};
    ControlState flashAddress{ControlKind::HexEdit};  // label: its prefix
    ControlState qspiMode{ControlKind::DropDownList};
    ControlState initMemMode{ControlKind::DropDownList};
    ControlState finalMemMode{ControlKind::DropDownList};
    ControlState crcMode{ControlKind::DropDownList};
    ControlState clockSource{ControlKind::DropDownList};
    // Step3: the security note beside the security step's controls
    ControlState securityNote{ControlKind::Label, std::string(kFlashSecurityNote)};

private:
    void ApplyFileType();
    void SetControlsEnabled(bool enabled);
    bool ReadFlashAddress(ProgramRequest& request);
    bool ReadPassword(ProgramRequest& request);
};

}  // namespace tavrel
