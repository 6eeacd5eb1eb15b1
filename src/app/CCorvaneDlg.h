#pragma once
// The programmer's main window as far as the operations need it: chip and interface lists, the
// flash location and type, the two link panels, the current operation, and the snapshot a page
// takes at Start.
#include <string>

#include "links/panels/JlinkConfigDlg.h"
#include "links/panels/UartConfigDlg.h"
#include "model/Catalogue.h"
#include "widgets/ControlState.h"

namespace tavrel {

class CCorvaneDlg {
public:
    explicit CCorvaneDlg(UartConfigDlg uartPanel = UartConfigDlg(std::vector<std::string>{}));

    // The user picks an entry of a list; an index outside it changes nothing.
    void ChooseChip(int index);
    // Any family the tables know, also the three the list does not offer (the command line
    // reaches all seven); false for an unknown name, which changes nothing.
    bool ChooseFamily(const std::string& name);
    void ChooseInterface(int index);
    void ChooseFlashType(int index);
    void ClickInternalFlash();
    void ClickExternalFlash();

    // What a page copies from the window and the panels at Start.
    TargetSelection Snapshot() const;

    std::string family() const { return unlistedFamily_.empty() ? chipList.SelectedText() : unlistedFamily_; }
    std::string interfaceName() const { return interfaceList.SelectedText(); }

    OperationKind currentOperation = kOperationProgram;
    ControlState chipList{ControlKind::DropDownList};
    ControlState interfaceList{ControlKind::DropDownList};
    ControlState internalRadio{ControlKind::RadioButton, "Internal Flash"};
    ControlState externalRadio{ControlKind::RadioButton, "External Flash"};
    ControlState flashInterfaceList{ControlKind::DropDownList};
    ControlState flashTypeList{ControlKind::DropDownList};
    JlinkConfigDlg jlinkPanel;
    UartConfigDlg uartPanel;

private:
    void ApplyFamily();
    std::string unlistedFamily_;
};

}  // namespace tavrel
