#pragma once
// The KR2E500-group program page: its controls with their texts, choices and initial states, the
// boot-UART lists refilled per family and port, the enabling rules, Browse, and Start, which checks
// the fields in a fixed order with fixed messages and fills the ExProgramRequest the worker runs.
#include <optional>
#include <string>

#include "model/Catalogue.h"
#include "operations/ExProgramRequest.h"
#include "operations/ProgramPageTail.h"
#include "operations/SecurityStep.h"
#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"
#include "widgets/FileChooser.h"

namespace tavrel {

class EX500FlashDlg : public ProgramPageTail, public SecurityStep {
public:
    static constexpr const char* kAddressLength = " Flash address should be 1 - 8 bytes, Please check data!";
    static constexpr const char* kHeaderProtected = "0x0-0x1F is protected for boot info! \n";
    static constexpr const char* kInvalidAddress = "Invalid flash address ! \n";

    // family: the chip chosen when the page is made (the main window sets it again right after).
    explicit EX500FlashDlg(UserPrompt& prompt, FileChooser* chooser = nullptr, const std::string& family = "KR2E500");

    // The main window's chip choice (start, chip change, settings loaded). With rebuildPortList the
    // "UART:" list is refilled with the family's default port; either way the location list is
    // refilled for the chosen port, and "Advanced Bin" is shown only where the family offers it.
    void FamilyUpdate(const std::string& family, bool rebuildPortList = true);

    void ClickHex();
    void ClickBin();
    void ClickAdvancedBin();
    void ClickHeaderProtection();
    // An entry of one of the lists; false when the list is disabled or the index outside it.
    // A new "UART:" choice refills "UART Location:".
    bool Select(ControlState& list, int index);

    bool Browse();

    // Checks the fields and fills the request with the target as the main window has it now.
    // None after a message; otherwise the page's controls are disabled for the run.
    std::optional<ExProgramRequest> Start(const TargetSelection& target);
    std::optional<ExProgramRequest> PressEnter(const ControlState& field, const TargetSelection& target);

    // The run has finished: what Start disabled is enabled again, by the page's rules.
    void OnOperationDone();

    const std::string& family() const { return family_; }

    // Step1: File Type
    ControlState fileTypeGroup{ControlKind::Group, "Step1: File Type"};
    ControlState hexRadio{ControlKind::RadioButton, "Hex"};
    ControlState binRadio{ControlKind::RadioButton, "Bin"};
    ControlState advancedBin{ControlKind::CheckBox, "Advanced Bin"};
    ControlState headerProtection{ControlKind::CheckBox, "Boot Header Protection"};
    ControlState flashAddressLabel{ControlKind::Label, "Flash Start Address"};
    ControlState flashAddress{ControlKind::HexEdit};  // label: its prefix
    ControlState uartPort{ControlKind::DropDownList};
    ControlState uartLocation{ControlKind::DropDownList};
    ControlState uartBaudRate{ControlKind::DropDownList};
    ControlState bootDelay{ControlKind::DropDownList};
    ControlState crc{ControlKind::DropDownList};
    // Step3: the notes beside the security step's controls
    ControlState passwordNote{ControlKind::Label, "Note: Remember the password"};
    ControlState jtagWarning{ControlKind::Label, "Warning: If password is set,JTag will be closed"};

private:
    void ApplyFileType();
    void RefillLocations();
    void SetControlsEnabled(bool enabled);
    bool ReadFlashAddress(const TargetSelection& target, ExProgramRequest& request);
    uint32_t FlashSize(const TargetSelection& target) const;

    std::string family_;
};

}  // namespace tavrel
