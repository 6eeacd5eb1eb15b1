#include "app/CCorvaneDlg.h"

#include <algorithm>

namespace tavrel {

CCorvaneDlg::CCorvaneDlg(UartConfigDlg panel) : uartPanel(std::move(panel)) {
    for (auto chip : kMainWindowChips) chipList.items.emplace_back(chip);
    flashInterfaceList.items = {"QSPI"};
    flashInterfaceList.selection = 0;
    internalRadio.checked = false;
    externalRadio.checked = true;
    internalRadio.enabled = externalRadio.enabled = flashInterfaceList.enabled = flashTypeList.enabled = false;
    ChooseChip(0);
}

void CCorvaneDlg::ChooseChip(int index) {
    if (index < 0 || static_cast<size_t>(index) >= chipList.items.size()) return;
    chipList.selection = index;
    unlistedFamily_.clear();
    ApplyFamily();
}

bool CCorvaneDlg::ChooseFamily(const std::string& name) {
    if (!FindFamilyProfile(name)) return false;
    const auto listed = std::find(chipList.items.begin(), chipList.items.end(), name);
    if (listed != chipList.items.end()) {
        ChooseChip(static_cast<int>(listed - chipList.items.begin()));
    } else {
        unlistedFamily_ = name;
        ApplyFamily();
    }
    return true;
}

void CCorvaneDlg::ApplyFamily() {
    const std::string chip = family();
    const FamilyProfile& profile = *FindFamilyProfile(chip);
    uartPanel.SetFamily(chip);
    interfaceList.items = InterfacesFor(chip);
    interfaceList.selection = 0;
    if (profile.externalOnly) {
        internalRadio.checked = false;
        externalRadio.checked = true;
    }
    if (profile.externalOnly || profile.flashChoice) {
        if (auto choices = FlashTypeChoices(chip)) {
            flashTypeList.items = *choices;
            flashTypeList.selection = 0;
        }
        if (profile.flashChoice) internalRadio.enabled = externalRadio.enabled = true;
        flashInterfaceList.enabled = flashTypeList.enabled = externalRadio.checked;
    } else {
        internalRadio.enabled = externalRadio.enabled = flashInterfaceList.enabled = flashTypeList.enabled = false;
    }
}

void CCorvaneDlg::ChooseInterface(int index) {
    if (index >= 0 && static_cast<size_t>(index) < interfaceList.items.size()) interfaceList.selection = index;
}

void CCorvaneDlg::ChooseFlashType(int index) {
    if (index >= 0 && static_cast<size_t>(index) < flashTypeList.items.size()) flashTypeList.selection = index;
}

void CCorvaneDlg::ClickInternalFlash() {
    internalRadio.checked = true;
    externalRadio.checked = false;
    flashInterfaceList.enabled = flashTypeList.enabled = false;
}

void CCorvaneDlg::ClickExternalFlash() {
    internalRadio.checked = false;
    externalRadio.checked = true;
    flashInterfaceList.enabled = flashTypeList.enabled = true;
}

TargetSelection CCorvaneDlg::Snapshot() const {
    TargetSelection selection;
    selection.family = family();
    selection.interfaceName = interfaceName();
    selection.internalFlash = internalRadio.checked;
    selection.flashInterface = flashInterfaceList.SelectedText();
    selection.ApplyFlashType(flashTypeList.SelectedText());
    selection.jlinkSpeedKhz = jlinkPanel.speedKhz();
    selection.comPort = uartPanel.portName();
    selection.baudRate = uartPanel.baudRate();
    return selection;
}

}  // namespace tavrel
