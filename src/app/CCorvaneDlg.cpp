#include "app/CCorvaneDlg.h"

#include <algorithm>

#include "model/FamilyProfile.h"
#include "operations/FlashSession.h"

namespace tavrel {

CCorvaneDlg::CCorvaneDlg(UserPrompt& prompt, FileChooser* chooser, UartConfigDlg panel)
    : uartPanel(std::move(panel)),
      flashPage(prompt, chooser),
      ex500Page(prompt, chooser),
      hx700Page(prompt, chooser),
      prompt_(prompt) {
    for (auto chip : kMainWindowChips) chipList.items.emplace_back(chip);
    flashInterfaceList.items = {"QSPI"};
    flashInterfaceList.selection = 0;
    internalRadio.checked = false;
    externalRadio.checked = true;
    internalRadio.enabled = externalRadio.enabled = flashInterfaceList.enabled = flashTypeList.enabled = false;
    programButton.checked = true;
    ChooseChip(0);
}

void CCorvaneDlg::SetOperation(OperationKind kind) {
    currentOperation_ = kind;
    programButton.checked = kind == kOperationProgram;
    eraseButton.checked = kind == kOperationErase;
    readButton.checked = kind == kOperationRead;
}

void CCorvaneDlg::ShowProgramPage() {
    const FamilyProfile* profile = FindFamilyProfile(family());
    const ProgramPage page = profile ? profile->page : ProgramPage::FlashDlg;
    if (page == ProgramPage::EX500FlashDlg) {
        ex500Page.FamilyUpdate(family(), true);
        visiblePage_ = MainPage::ProgramEX500;
    } else if (page == ProgramPage::HX700FlashDlg) {
        visiblePage_ = MainPage::ProgramHX700;
    } else {
        visiblePage_ = MainPage::Program;
    }
}

void CCorvaneDlg::PressProgram() {
    SetOperation(kOperationProgram);
    ShowProgramPage();
}

void CCorvaneDlg::PressErase() {
    SetOperation(kOperationErase);
    erasePage.SetFamily(family(), flashTypeList.SelectedText());
    visiblePage_ = MainPage::Erase;
}

void CCorvaneDlg::PressRead() {
    SetOperation(kOperationRead);
    visiblePage_ = MainPage::Read;
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
    // "JLINK" is chosen: its panel, and block erase is there again after "USB".
    ApplyInterface();
    if (profile.externalOnly) {
        internalRadio.checked = false;
        externalRadio.checked = true;
    }
    if (profile.externalOnly || profile.flashChoice) {
        if (auto choices = FlashTypeChoices(chip)) {
            flashTypeList.items = *choices;
            flashTypeList.selection = 0;
        }
        // The location radios keep their state for a family that always works on external flash.
        if (profile.flashChoice) internalRadio.enabled = externalRadio.enabled = true;
        flashInterfaceList.enabled = flashTypeList.enabled = externalRadio.checked;
    } else {
        internalRadio.enabled = externalRadio.enabled = flashInterfaceList.enabled = flashTypeList.enabled = false;
    }
    if (currentOperation_ == kOperationErase) erasePage.SetFamily(chip, flashTypeList.SelectedText());
    else if (currentOperation_ == kOperationProgram) ShowProgramPage();
}

namespace {

// The link panel an interface shows (USB has none).
MainPanel PanelOf(std::optional<InterfaceKind> kind) {
    if (kind == InterfaceKind::Jlink) return MainPanel::Jlink;
    if (kind == InterfaceKind::Uart) return MainPanel::Uart;
    return MainPanel::None;
}

}  // namespace

void CCorvaneDlg::ApplyInterface() {
    const bool usb = Interface() == InterfaceKind::Usb;
    hx700Page.AllowBlockErase(!usb);
    erasePage.AllowBlockErase(!usb);
    visiblePanel_ = PanelOf(Interface());
}

void CCorvaneDlg::ChooseInterface(int index) {
    if (index < 0 || static_cast<size_t>(index) >= interfaceList.items.size()) return;
    interfaceList.selection = index;
    ApplyInterface();
}

bool CCorvaneDlg::ChooseInterfaceNamed(const std::string& name) {
    const auto found = std::find(interfaceList.items.begin(), interfaceList.items.end(), name);
    if (found == interfaceList.items.end()) return false;
    ChooseInterface(static_cast<int>(found - interfaceList.items.begin()));
    return true;
}

void CCorvaneDlg::ChooseFlashType(int index) {
    if (index < 0 || static_cast<size_t>(index) >= flashTypeList.items.size()) return;
    flashTypeList.selection = index;
    // The erase page's block list follows the flash size.
    if (currentOperation_ == kOperationErase) erasePage.SetFamily(family(), flashTypeList.SelectedText());
}

void CCorvaneDlg::ClickInternalFlash() {
    if (!internalRadio.enabled) return;
    internalRadio.checked = true;
    externalRadio.checked = false;
    flashInterfaceList.enabled = flashTypeList.enabled = false;
}

void CCorvaneDlg::ClickExternalFlash() {
    if (!externalRadio.enabled) return;
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

bool CCorvaneDlg::LoadChip(const std::string& name) {
    const auto found = std::find(chipList.items.begin(), chipList.items.end(), name);
    if (found == chipList.items.end()) return false;
    chipList.selection = static_cast<int>(found - chipList.items.begin());
    unlistedFamily_.clear();
    uartPanel.SetFamily(name);
    const FamilyProfile& profile = *FindFamilyProfile(name);
    internalRadio.enabled = externalRadio.enabled = profile.flashChoice;
    if (profile.flashChoice || profile.externalOnly) {
        flashTypeList.items = FlashTypeChoices(name).value_or(std::vector<std::string>{});
        flashTypeList.selection = -1;
    } else {
        flashInterfaceList.enabled = flashTypeList.enabled = false;
    }
    return true;
}

bool CCorvaneDlg::LoadInterface(const std::string& name) {
    const auto found = std::find(interfaceList.items.begin(), interfaceList.items.end(), name);
    if (found == interfaceList.items.end()) return false;
    interfaceList.selection = static_cast<int>(found - interfaceList.items.begin());
    visiblePanel_ = PanelOf(InterfaceKindOf(name));
    return true;
}

void CCorvaneDlg::LoadFlashLocation(bool internal) {
    internalRadio.checked = internal;
    externalRadio.checked = !internal;
    const FamilyProfile* profile = FindFamilyProfile(family());
    if (internal) flashInterfaceList.enabled = flashTypeList.enabled = false;
    else if (profile && (profile->flashChoice || profile->externalOnly))
        flashInterfaceList.enabled = flashTypeList.enabled = true;
}

void CCorvaneDlg::ShowOperation(OperationKind kind) {
    SetOperation(kind);
    if (kind == kOperationErase) {
        visiblePage_ = MainPage::Erase;
    } else if (kind == kOperationRead) {
        visiblePage_ = MainPage::Read;
    } else {
        const FamilyProfile* profile = FindFamilyProfile(family());
        const ProgramPage page = profile ? profile->page : ProgramPage::FlashDlg;
        visiblePage_ = page == ProgramPage::EX500FlashDlg   ? MainPage::ProgramEX500
                       : page == ProgramPage::HX700FlashDlg ? MainPage::ProgramHX700
                                                            : MainPage::Program;
    }
}

void CCorvaneDlg::SetWindowControlsEnabled(bool enabled) {
    for (ControlState* control : {&programButton, &eraseButton, &readButton, &chipList, &interfaceList})
        control->enabled = enabled;
}

void CCorvaneDlg::LockForRun() {
    SetWindowControlsEnabled(false);
    internalRadio.enabled = externalRadio.enabled = flashInterfaceList.enabled = flashTypeList.enabled = false;
    // Only the panel of the interface in use, which the done report enables again: a panel
    // disabled here for another interface would stay greyed until a run over its own.
    const std::optional<InterfaceKind> used = Interface();
    if (used == InterfaceKind::Jlink) jlinkPanel.SetEnabled(false);
    if (used == InterfaceKind::Uart) uartPanel.SetEnabled(false);
}

void CCorvaneDlg::OnProgress(uint32_t count, const std::string& text, ReportKind kind) {
    // A final status carries its own position (100), not a count against the total.
    uint32_t percent = count;
    if (count != 0 && kind == ReportKind::Step)
        percent = progressTotal_ == 0 ? 0 : static_cast<uint32_t>(uint64_t{count} * 100 / progressTotal_);
    statusText = text;
    percentText = std::to_string(percent) + "%";
    progressPosition = static_cast<int>(std::min<uint32_t>(percent, 99));
}

void CCorvaneDlg::OnTotal(uint32_t total) { progressTotal_ = total; }

void CCorvaneDlg::OnOperationDone(OperationKind kind, std::optional<ProgramPageKind> page, LinkSeams* seams) {
    SetWindowControlsEnabled(true);
    const std::string usedInterface = interfaceName();
    if (seams) CloseFlashLink(usedInterface, *seams, prompt_);

    const FamilyProfile* profile = FindFamilyProfile(family());
    if (profile && (profile->flashChoice || profile->externalOnly)) {
        internalRadio.enabled = externalRadio.enabled = true;
        if (externalRadio.checked) flashInterfaceList.enabled = flashTypeList.enabled = true;
    }
    const std::optional<InterfaceKind> used = Interface();
    if (used == InterfaceKind::Jlink) jlinkPanel.SetEnabled(true);
    if (used == InterfaceKind::Uart) uartPanel.SetEnabled(true);

    switch (kind) {
        case kOperationErase:
            erasePage.OperationDone();
            break;
        case kOperationRead:
            readPage.OperationDone();
            break;
        case kOperationProgram:
            if (page == kPageEX500) ex500Page.OnOperationDone();
            else if (page == kPageHX700) hx700Page.OnOperationDone(used);
            else flashPage.OnOperationDone();
            break;
    }
}

}  // namespace tavrel
