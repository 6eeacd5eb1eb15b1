// The main window's choices without a window: the chip list, the interfaces and flash choices
// each family brings, the command line's unlisted families, and the snapshot a page takes.
#include <gtest/gtest.h>

#include "Recorders.h"
#include "app/CCorvaneDlg.h"

using namespace tavrel;
using tavrel::test::RecordingPrompt;

TEST(CCorvaneDlgModel, ChipListOffersFourFamiliesAndEachBringsItsInterfacesAndFlashChoices) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    EXPECT_EQ(window.chipList.items, (std::vector<std::string>{"KR2A600", "KR2E500", "KR2G700", "KR2H70X"}));
    EXPECT_EQ(window.family(), "KR2A600");

    struct Case {
        const char* family;
        std::vector<std::string> interfaces;
        bool locationRadios;   // internal / external can be chosen
        bool flashTypes;       // the flash type list is in use
        const char* firstType;
    };
    const Case cases[] = {
        {"KR2A600", {"JLINK", "UART"}, false, false, ""},
        {"KR2E500", {"JLINK", "UART"}, false, false, ""},
        {"KR2G700", {"JLINK", "UART"}, false, true, "W25Q80BW/EW"},
        {"KR2H70X", {"JLINK", "UART", "USB"}, true, true, "W25Q80BV"},
        {"KR2E550", {"JLINK", "UART"}, true, true, "W25Q80BV"},  // the command line's reach
        {"KR2E700", {"JLINK", "UART"}, false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family);
        CCorvaneDlg chosen(prompt);
        chosen.ChooseInterface(1);
        ASSERT_TRUE(chosen.ChooseFamily(c.family));
        EXPECT_EQ(chosen.family(), c.family);
        EXPECT_EQ(chosen.interfaceList.items, c.interfaces);
        EXPECT_EQ(chosen.interfaceName(), "JLINK");  // selected whenever the list is rebuilt
        EXPECT_EQ(chosen.internalRadio.enabled, c.locationRadios);
        EXPECT_EQ(chosen.externalRadio.enabled, c.locationRadios);
        EXPECT_EQ(chosen.flashTypeList.enabled, c.flashTypes);
        const TargetSelection target = chosen.Snapshot();
        EXPECT_EQ(target.family, c.family);
        if (c.flashTypes) {
            EXPECT_EQ(chosen.flashTypeList.SelectedText(), c.firstType);
            EXPECT_EQ(target.flashTypeName, c.firstType);
            EXPECT_GT(target.flashCapacity, 0u);
        }
    }
    EXPECT_FALSE(window.ChooseFamily("KR2X999"));
    EXPECT_EQ(window.family(), "KR2A600");
}

TEST(CCorvaneDlgModel, ListedChoiceLeavesAnUnlistedFamilyAndLocationDrivesTheFlashTypeList) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    ASSERT_TRUE(window.ChooseFamily("KR2A500"));
    EXPECT_EQ(window.family(), "KR2A500");
    window.ChooseChip(3);
    EXPECT_EQ(window.family(), "KR2H70X");
    window.ChooseInterface(2);
    EXPECT_EQ(window.Snapshot().interfaceName, "USB");

    window.ClickInternalFlash();
    EXPECT_FALSE(window.flashTypeList.enabled);
    EXPECT_TRUE(window.Snapshot().internalFlash);
    window.ClickExternalFlash();
    EXPECT_TRUE(window.flashTypeList.enabled);
    window.ChooseFlashType(1);
    EXPECT_EQ(window.Snapshot().flashTypeName, window.flashTypeList.items[1]);
    window.ChooseFlashType(99);  // outside the list: no change
    EXPECT_EQ(window.Snapshot().flashTypeName, window.flashTypeList.items[1]);
}

TEST(CCorvaneDlgModel, StartUpShowsTheProgramPageOfTheFirstChipOverJlink) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    EXPECT_EQ(std::string(CCorvaneDlg::kTitle), "Tavrel_v1.0.10");
    EXPECT_EQ(window.family(), "KR2A600");
    EXPECT_EQ(window.interfaceList.items, (std::vector<std::string>{"JLINK", "UART"}));
    EXPECT_EQ(window.currentOperation(), kOperationProgram);
    EXPECT_TRUE(window.programButton.checked);
    EXPECT_EQ(window.visiblePage(), MainPage::Program);
    EXPECT_EQ(window.visiblePanel(), MainPanel::Jlink);
    EXPECT_FALSE(window.internalRadio.checked);
    EXPECT_TRUE(window.externalRadio.checked);
    for (const ControlState* control :
         {&window.internalRadio, &window.externalRadio, &window.flashInterfaceList, &window.flashTypeList})
        EXPECT_FALSE(control->enabled);
    EXPECT_EQ(window.flashInterfaceList.SelectedText(), "QSPI");
    EXPECT_TRUE(window.generatorMenuEntry.enabled);
    EXPECT_EQ(window.statusText, " Tavrel ");
    EXPECT_EQ(window.percentText, "0%");
    EXPECT_EQ(window.progressPosition, 0);
}

TEST(CCorvaneDlgModel, OperationButtonsAndChipChangesShowTheFamilysPage) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    window.ChooseChip(1);  // KR2E500
    EXPECT_EQ(window.visiblePage(), MainPage::ProgramEX500);
    EXPECT_EQ(window.ex500Page.family(), "KR2E500");
    EXPECT_TRUE(window.ex500Page.advancedBin.visible);
    window.PressErase();
    EXPECT_EQ(window.visiblePage(), MainPage::Erase);
    EXPECT_TRUE(window.eraseButton.checked);
    EXPECT_FALSE(window.programButton.checked);
    window.ChooseChip(3);  // KR2H70X: the erase page follows, the page stays
    EXPECT_EQ(window.visiblePage(), MainPage::Erase);
    window.PressRead();
    EXPECT_EQ(window.visiblePage(), MainPage::Read);
    window.PressProgram();
    EXPECT_EQ(window.visiblePage(), MainPage::ProgramHX700);
    ASSERT_TRUE(window.ChooseFamily("KR2E700"));
    EXPECT_EQ(window.visiblePage(), MainPage::ProgramEX500);
    EXPECT_FALSE(window.ex500Page.advancedBin.visible);
    EXPECT_EQ(window.ex500Page.uartPort.SelectedText(), "UART0");  // the port list rebuilt for the family
}

// Coming from KR2A600 the location radios are disabled and stay so for KR2G700, which always
// works on its external flash.
TEST(CCorvaneDlgModel, Kr2g700KeepsTheLocationRadiosAndTakesItsFlashTypes) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    window.ChooseChip(2);
    EXPECT_FALSE(window.internalRadio.enabled);
    EXPECT_FALSE(window.externalRadio.enabled);
    EXPECT_TRUE(window.externalRadio.checked);
    EXPECT_TRUE(window.flashTypeList.enabled);
    EXPECT_EQ(window.flashTypeList.items.size(), 5u);
}

TEST(CCorvaneDlgModel, UsbTakesBlockEraseAwayAndAnotherInterfaceOrChipGivesItBack) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    window.ChooseChip(3);  // KR2H70X
    window.erasePage.ClickEraseBlock();
    window.hx700Page.ClickEraseMode(kEraseBlocksByFile);
    ASSERT_TRUE(window.ChooseInterfaceNamed("USB"));
    EXPECT_EQ(window.visiblePanel(), MainPanel::None);
    EXPECT_FALSE(window.erasePage.eraseBlockRadio.enabled);
    EXPECT_TRUE(window.erasePage.eraseAllRadio.checked);
    EXPECT_FALSE(window.erasePage.blockList.enabled);
    EXPECT_FALSE(window.hx700Page.eraseBlocks.enabled);
    EXPECT_TRUE(window.hx700Page.eraseAll.checked);
    ASSERT_TRUE(window.ChooseInterfaceNamed("UART"));
    EXPECT_EQ(window.visiblePanel(), MainPanel::Uart);
    EXPECT_TRUE(window.erasePage.eraseBlockRadio.enabled);
    ASSERT_TRUE(window.ChooseInterfaceNamed("USB"));
    window.ChooseChip(0);  // back on "JLINK"
    EXPECT_EQ(window.visiblePanel(), MainPanel::Jlink);
    EXPECT_TRUE(window.erasePage.eraseBlockRadio.enabled);
    EXPECT_FALSE(window.ChooseInterfaceNamed("USB"));
}

TEST(CCorvaneDlgModel, StatusBarArithmetic) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    const struct {
        uint32_t total;
        uint32_t count;
        const char* text;
        const char* percent;
        int bar;
        ReportKind kind = ReportKind::Step;
    } cases[] = {
        {0, 50, "Verifying...", "0%", 0},  // no total yet
        {200, 50, "Verifying...", "25%", 25},
        {200, 0, "Flash loading start", "0%", 0},
        {200, 400, "Download Target Image File", "200%", 99},
        {200, 100, "Flash Success", "100%", 99, ReportKind::FinalSuccess},
        {200, 100, "Read Failed", "100%", 99, ReportKind::FinalFailure},
        {3, 1, "Erase Flash", "33%", 33},
    };
    for (const auto& c : cases) {
        window.OnTotal(c.total);
        window.OnProgress(c.count, c.text, c.kind);
        EXPECT_EQ(window.statusText, c.text);
        EXPECT_EQ(window.percentText, c.percent) << c.count << " of " << c.total;
        EXPECT_EQ(window.progressPosition, c.bar) << c.count << " of " << c.total;
    }
}

TEST(CCorvaneDlgModel, ARunLocksTheWindowAndItsEndFreesExactlyWhatThePageLocked) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    window.ChooseChip(3);  // KR2H70X on its external flash
    ASSERT_TRUE(window.ChooseInterfaceNamed("USB"));
    window.hx700Page.flashAddress.text = "0";
    window.hx700Page.SetImagePath("/tmp/boot.bin");
    ASSERT_TRUE(window.hx700Page.Start(window.Snapshot()));
    window.LockForRun();
    for (const ControlState* control : {&window.programButton, &window.eraseButton, &window.readButton,
                                        &window.chipList, &window.interfaceList, &window.internalRadio,
                                        &window.flashTypeList, &window.hx700Page.startButton})
        EXPECT_FALSE(control->enabled);

    window.OnOperationDone(kOperationProgram, kPageHX700);
    for (const ControlState* control : {&window.programButton, &window.eraseButton, &window.readButton,
                                        &window.chipList, &window.interfaceList, &window.internalRadio,
                                        &window.externalRadio, &window.flashTypeList, &window.hx700Page.startButton,
                                        &window.hx700Page.eraseSectors})
        EXPECT_TRUE(control->enabled);
    EXPECT_FALSE(window.hx700Page.eraseBlocks.enabled);  // still USB

    // The erase page: its block list again only in block mode.
    window.ChooseChip(0);
    window.PressErase();
    window.erasePage.ClickEraseSector();
    window.erasePage.startField.text = "1";
    window.erasePage.endField.text = "2";
    ASSERT_TRUE(window.erasePage.PressErase(window.Snapshot(), prompt));
    window.LockForRun();
    EXPECT_FALSE(window.jlinkPanel.speedList.enabled);
    window.OnOperationDone(kOperationErase, std::nullopt);
    EXPECT_TRUE(window.jlinkPanel.speedList.enabled);
    EXPECT_TRUE(window.erasePage.startField.enabled);
    EXPECT_FALSE(window.erasePage.blockList.enabled);
    EXPECT_FALSE(window.internalRadio.enabled);  // KR2A600 has no location to choose
}
