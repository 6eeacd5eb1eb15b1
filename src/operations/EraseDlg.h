#pragma once
// The erase page: what to erase (all, blocks, a sector range), its checks and its settings.
#include <optional>
#include <string>

#include "model/Catalogue.h"
#include "operations/EraseWorker.h"
#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"

namespace tavrel {

class EraseDlg {
public:
    EraseDlg();

    // The main window's family update: the block list and the note follow the family (and the
    // flash type's capacity where the family has one).
    void SetFamily(const std::string& family, const std::string& flashTypeName = "");

    // The main window's interface rule: "USB" has no block erase, so "Erase Block" is disabled
    // (a page in block mode goes back to "Erase all").
    void AllowBlockErase(bool allowed);

    void ClickEraseAll();
    void ClickEraseBlock();
    void ClickEraseSector();
    // The user's selection in the block list (item numbers).
    void SelectBlocks(std::vector<int> items);

    // Erase: the settings for the worker, with the page locked; none after a message.
    std::optional<EraseSettings> PressErase(const TargetSelection& target, UserPrompt& prompt);
    // The operation has finished: the page's controls as before Erase.
    void OperationDone();

    EraseMode mode() const { return mode_; }

    ControlState typeGroup{ControlKind::Group, "Step1: Erase Type"};
    ControlState eraseAllRadio{ControlKind::RadioButton, "Erase all"};
    ControlState eraseBlockRadio{ControlKind::RadioButton, "Erase Block"};
    ControlState eraseSectorRadio{ControlKind::RadioButton, "Erase Sector"};
    ControlState optionGroup{ControlKind::Group, "Step2: Option"};
    ControlState blockGroup{ControlKind::Group, "Block"};
    ControlState blockLabel{ControlKind::Label, "Block Number: "};
    ControlState blockList{ControlKind::DropDownList};
    ControlState sectorGroup{ControlKind::Group, "Sector"};
    ControlState startLabel{ControlKind::Label, "Start Sector number:"};
    ControlState startField{ControlKind::Edit};
    ControlState endLabel{ControlKind::Label, "End Sector number:"};
    ControlState endField{ControlKind::Edit};
    ControlState note{ControlKind::Label};
    ControlState eraseButton{ControlKind::Button, "Erase"};

private:
    void ApplyMode(EraseMode mode);
    void SetLocked(bool locked);

    EraseMode mode_ = EraseMode::All;
    uint32_t highestSector_ = 0;
    std::string lastFamily_;
    std::string lastFlashType_;
};

}  // namespace tavrel
