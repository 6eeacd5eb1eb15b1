#pragma once
// The programmer's main window without a window: the chip and interface lists, the three
// operation buttons and the current operation, the flash location and type group, the five pages
// and two link panels it owns (which one is shown), the status bar fed by the workers' reports,
// and every rule that ties them together. The Qt view and the command line drive this model.
#include <cstdint>
#include <optional>
#include <string>

#include "links/panels/JlinkConfigDlg.h"
#include "links/panels/UartConfigDlg.h"
#include "model/Catalogue.h"
#include "model/OperationHost.h"
#include "operations/EX500FlashDlg.h"
#include "operations/EraseDlg.h"
#include "operations/FlashDlg.h"
#include "operations/HX700FlashDlg.h"
#include "operations/LinkSeams.h"
#include "operations/ReadDlg.h"
#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"
#include "widgets/FileChooser.h"

namespace tavrel {

// Which of the five pages fills the page area.
enum class MainPage { Program, ProgramEX500, ProgramHX700, Erase, Read };
// Which link panel fills the panel area (none over USB).
enum class MainPanel { Jlink, Uart, None };

class CCorvaneDlg {
public:
    static constexpr const char* kTitle = "Tavrel_v1.0.10";
    static constexpr const char* kQuitQuestion = "Are you sure to quit Tavrel ?";
    static constexpr const char* kManualName = "Tavrel User Guide.pdf";
    static constexpr const char* kManualMissing = "Can't find \"Tavrel User Guide\" file!";
    static constexpr const char* kManualNotOpened = "Can't open \"Tavrel User Guide\" file!";
    static constexpr const char* kGeneratorMissing = "Can't KR2H70X_Generate_Bin.exe!";
    static constexpr const char* kAboutTitle = "About Tavrel";
    static constexpr const char* kAboutText = "Tavrel, Version 1.0.10";
    static constexpr const char* kOldAboutTitle = "About Corvane";
    static constexpr const char* kOldAboutText = "Corvane, Version 1.0.3";

    // The pages show their messages and file dialogs through prompt and chooser (null: Browse
    // does nothing).
    explicit CCorvaneDlg(UserPrompt& prompt, FileChooser* chooser = nullptr,
                         UartConfigDlg uartPanel = UartConfigDlg(std::vector<std::string>{}));
    CCorvaneDlg(const CCorvaneDlg&) = delete;
    CCorvaneDlg& operator=(const CCorvaneDlg&) = delete;

    // The operation buttons.
    void PressProgram();
    void PressErase();
    void PressRead();

    // The user picks an entry of a list; an index outside it changes nothing.
    void ChooseChip(int index);
    // Any family the tables know, also the three the list does not offer (the command line
    // reaches all seven); false for an unknown name, which changes nothing.
    bool ChooseFamily(const std::string& name);
    void ChooseInterface(int index);
    // By name; false when the list does not hold it.
    bool ChooseInterfaceNamed(const std::string& name);
    void ChooseFlashType(int index);
    void ClickInternalFlash();
    void ClickExternalFlash();

    // What a page copies from the window and the panels at Start.
    TargetSelection Snapshot() const;

    // A page's Start (or Erase, Read) has handed its request to a worker: the operation buttons,
    // the chip and interface lists, the flash group and the link panels are locked for the run.
    void LockForRun();

    // The workers' three reports.
    void OnProgress(uint32_t count, const std::string& text, ReportKind kind);
    void OnTotal(uint32_t total);
    // The run has ended: the link the interface left open is closed (when seams are given),
    // and what the finished page and LockForRun disabled is enabled again.
    void OnOperationDone(OperationKind kind, std::optional<ProgramPageKind> page, LinkSeams* seams = nullptr);

    // What a settings file's lines do to the window (they differ from the user's clicks: the
    // chip line neither rebuilds the interface list nor changes the page, the flash types are
    // listed without a choice). False when the value is not in the list.
    bool LoadChip(const std::string& name);
    bool LoadInterface(const std::string& name);
    void LoadFlashLocation(bool internal);
    // Shows the operation's button pressed and its page (for program the family's page).
    void ShowOperation(OperationKind kind);

    std::string family() const { return unlistedFamily_.empty() ? chipList.SelectedText() : unlistedFamily_; }
    std::string interfaceName() const { return interfaceList.SelectedText(); }
    // The kind of the chosen interface (none while the list holds no known name).
    std::optional<InterfaceKind> Interface() const { return InterfaceKindOf(interfaceName()); }
    OperationKind currentOperation() const { return currentOperation_; }
    MainPage visiblePage() const { return visiblePage_; }
    MainPanel visiblePanel() const { return visiblePanel_; }
    uint32_t progressTotal() const { return progressTotal_; }

    ControlState chipLabel{ControlKind::Label, "Chip"};
    ControlState chipList{ControlKind::DropDownList};
    ControlState interfaceLabel{ControlKind::Label, "Interface"};
    ControlState interfaceList{ControlKind::DropDownList};
    ControlState programButton{ControlKind::Button, "PROGRAM"};
    ControlState eraseButton{ControlKind::Button, "ERASE"};
    ControlState readButton{ControlKind::Button, "READ"};
    ControlState flashGroup{ControlKind::Group, "Flash"};
    ControlState internalRadio{ControlKind::RadioButton, "Internal Flash"};
    ControlState externalRadio{ControlKind::RadioButton, "External Flash"};
    ControlState flashInterfaceList{ControlKind::DropDownList};
    ControlState flashTypeList{ControlKind::DropDownList};
    ControlState generatorMenuEntry{ControlKind::Button, "KR2H70X_Generate_Bin"};
    // The status bar: its text, the percentage, and the progress bar (0-99).
    std::string statusText = " Tavrel ";
    std::string percentText = "0%";
    int progressPosition = 0;

    JlinkConfigDlg jlinkPanel;
    UartConfigDlg uartPanel;
    FlashDlg flashPage;
    EX500FlashDlg ex500Page;
    HX700FlashDlg hx700Page;
    EraseDlg erasePage;
    ReadDlg readPage;

private:
    void ApplyFamily();
    void ApplyInterface();
    void ShowProgramPage();
    void SetOperation(OperationKind kind);
    void SetWindowControlsEnabled(bool enabled);

    UserPrompt& prompt_;
    OperationKind currentOperation_ = kOperationProgram;
    MainPage visiblePage_ = MainPage::Program;
    MainPanel visiblePanel_ = MainPanel::Jlink;
    uint32_t progressTotal_ = 0;
    std::string unlistedFamily_;
};

}  // namespace tavrel
