// The settings file: the lines written for each operation page and family group, round trips
// into a fresh window, loading that stops at the first value it cannot apply, and the menus.
#include <gtest/gtest.h>

#include <functional>

#include "Recorders.h"
#include "app/SettingsFile.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

// Saves the window, loads the text into a fresh window (prepared as a person would before
// loading), saves that one: the two texts are the same.
void ExpectRoundTrip(const std::function<void(CCorvaneDlg&)>& setUp, const std::string& chipBeforeLoading = "") {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    setUp(window);
    const std::string saved = SettingsText(window);

    CCorvaneDlg fresh(prompt);
    if (!chipBeforeLoading.empty()) {
        ASSERT_TRUE(fresh.ChooseFamily(chipBeforeLoading));
    }
    ASSERT_EQ(ApplySettingsText(fresh, saved), 0) << saved;
    EXPECT_EQ(SettingsText(fresh), saved);
    EXPECT_EQ(fresh.currentOperation(), window.currentOperation());
    EXPECT_EQ(fresh.visiblePage(), window.visiblePage());
    EXPECT_EQ(fresh.visiblePanel(), window.visiblePanel());
}

TEST(SettingsFile, Kr2a600ProgramPageIsWrittenLineByLineWithCrLf) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    window.jlinkPanel.ChooseSpeed(1);
    window.flashPage.Select(window.flashPage.crcMode, 3);
    window.flashPage.ClickEraseMode(kEraseSectorsByFile);
    window.flashPage.ClickVerify();
    window.flashPage.SetImagePath("C:\\work\\app.hex");
    EXPECT_EQ(SettingsText(window),
              "ChipName:KR2A600\r\n"
              "InterfaceType:JLINK\r\n"
              "JLINK Speed:4000\r\n"
              "Flash Location:External\r\n"
              "Flash Interface:QSPI\r\n"
              "Flash Type:\r\n"
              "Option:Flash\r\n"
              "File Type:Hex\r\n"
              "QSPI:Normal read\r\n"
              "Init Mem:Normal\r\n"
              "Final Mem:Normal\r\n"
              "CRC:CRC-32-IEEE\r\n"
              "Clock Source:System:RC32M\r\n"
              "Flash Address:\r\n"
              "Erase:Erase Sector\r\n"
              "Verify:true\r\n"
              "File Path:C:\\work\\app.hex\r\n");
}

TEST(SettingsFile, RoundTripsForEveryPageAndFamilyGroup) {
    {
        SCOPED_TRACE("KR2A600 program, Hex over J-Link, a path with a drive letter");
        ExpectRoundTrip([](CCorvaneDlg& w) {
            w.jlinkPanel.ChooseSpeed(2);
            w.flashPage.Select(w.flashPage.clockSource, 1);
            w.flashPage.Select(w.flashPage.qspiMode, 3);
            w.flashPage.ClickVerify();
            w.flashPage.SetImagePath("D:\\images\\app.hex");
        });
    }
    {
        SCOPED_TRACE("KR2A600 program, Bin over UART");
        ExpectRoundTrip([](CCorvaneDlg& w) {
            ASSERT_TRUE(w.ChooseInterfaceNamed("UART"));
            w.uartPanel.ChooseBaud(3);
            w.flashPage.ClickBin();
            w.flashPage.flashAddress.text = "2000";
            w.flashPage.ClickEraseMode(kEraseBlocksByFile);
            w.flashPage.SetImagePath("/home/me/app.bin");
        });
    }
    {
        SCOPED_TRACE("KR2E500 program, Hex with its boot UART choices");
        ExpectRoundTrip([](CCorvaneDlg& w) {
            w.ChooseChip(1);
            ASSERT_TRUE(w.ex500Page.Select(w.ex500Page.uartPort, 0));
            ASSERT_TRUE(w.ex500Page.Select(w.ex500Page.uartLocation, 2));
            ASSERT_TRUE(w.ex500Page.Select(w.ex500Page.bootDelay, 4));
            ASSERT_TRUE(w.ex500Page.Select(w.ex500Page.crc, 1));
            w.ex500Page.SetImagePath("/tmp/app.hex");
        });
    }
    {
        SCOPED_TRACE("KR2G700 program, advanced bin, a flash type");
        ExpectRoundTrip([](CCorvaneDlg& w) {
            w.ChooseChip(2);
            w.ChooseFlashType(1);
            w.ex500Page.ClickBin();
            w.ex500Page.ClickAdvancedBin();
            w.ex500Page.ClickEraseMode(kEraseBlocksByFile);
            w.ex500Page.SetImagePath("/tmp/app.bin");
        });
    }
    {
        SCOPED_TRACE("KR2E500 program, plain bin without header protection");
        ExpectRoundTrip([](CCorvaneDlg& w) {
            w.ChooseChip(1);
            w.ex500Page.ClickBin();
            w.ex500Page.ClickHeaderProtection();
            w.ex500Page.flashAddress.text = "0";
        });
    }
    {
        SCOPED_TRACE("KR2H70X program over USB, internal flash");
        ExpectRoundTrip(
            [](CCorvaneDlg& w) {
                w.ChooseChip(3);
                w.ClickInternalFlash();
                ASSERT_TRUE(w.ChooseInterfaceNamed("USB"));
                w.hx700Page.flashAddress.text = "1000";
                w.hx700Page.ClickEraseMode(kEraseSectorsByFile);
                w.hx700Page.SetImagePath("/tmp/boot.bin");
            },
            "KR2H70X");
    }
    {
        SCOPED_TRACE("erase, blocks 0, 2 and 5");
        ExpectRoundTrip([](CCorvaneDlg& w) {
            w.PressErase();
            w.erasePage.ClickEraseBlock();
            w.erasePage.SelectBlocks({0, 2, 5});
        });
    }
    {
        SCOPED_TRACE("erase, sectors over UART on a KR2H70X flash type");
        ExpectRoundTrip(
            [](CCorvaneDlg& w) {
                w.ChooseChip(3);
                w.ChooseFlashType(2);
                ASSERT_TRUE(w.ChooseInterfaceNamed("UART"));
                w.PressErase();
                w.erasePage.ClickEraseSector();
                w.erasePage.startField.text = "3";
                w.erasePage.endField.text = "9";
            },
            "KR2H70X");
    }
    {
        SCOPED_TRACE("read, display window");
        ExpectRoundTrip([](CCorvaneDlg& w) {
            w.PressRead();
            w.readPage.ClickDisplay();
            w.readPage.addressField.text = "1000";
            w.readPage.lengthField.text = "100";
        });
    }
}

TEST(SettingsFile, LinkLinesFollowTheInterface) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    window.ChooseChip(3);
    ASSERT_TRUE(window.ChooseInterfaceNamed("UART"));
    std::string text = SettingsText(window);
    EXPECT_NE(text.find("UART Baudrate:"), std::string::npos);
    EXPECT_EQ(text.find("JLINK Speed:"), std::string::npos);
    ASSERT_TRUE(window.ChooseInterfaceNamed("USB"));
    text = SettingsText(window);
    EXPECT_EQ(text.find("UART Baudrate:"), std::string::npos);
    EXPECT_EQ(text.find("JLINK Speed:"), std::string::npos);

    // "USB" is in the interface list only when KR2H70X was chosen before loading.
    CCorvaneDlg fresh(prompt);
    EXPECT_EQ(ApplySettingsText(fresh, text), -2);
    EXPECT_EQ(fresh.family(), "KR2H70X");  // the chip line was applied before the failure
    EXPECT_EQ(fresh.interfaceName(), "JLINK");
}

TEST(SettingsFile, LoadingStopsAtTheFirstValueItCannotApply) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    // A chip the list does not hold fails at the first line; nothing changes.
    EXPECT_EQ(ApplySettingsText(window, "ChipName:KR2E550\r\nInterfaceType:UART\r\n"), -2);
    EXPECT_EQ(window.family(), "KR2A600");
    EXPECT_EQ(window.interfaceName(), "JLINK");

    // What comes before the failing value stays.
    EXPECT_EQ(ApplySettingsText(window, "ChipName:KR2E500\r\nInterfaceType:UART\r\nUART Baudrate:1234\r\n"), -2);
    EXPECT_EQ(window.family(), "KR2E500");
    EXPECT_EQ(window.interfaceName(), "UART");

    // A section value that cannot be selected fails too, after the lines before it.
    EXPECT_EQ(ApplySettingsText(window, "ChipName:KR2A600\r\nOption:Flash\r\nFlash Address:44\r\nCRC:CRC-64\r\n"), -2);
    EXPECT_EQ(window.flashPage.flashAddress.text, "44");

    // Block positions beyond the list are refused.
    EXPECT_EQ(ApplySettingsText(window, "ChipName:KR2A600\r\nOption:Erase\r\nErase:Erase Block\r\n"
                                        "Block Number:0;99;\r\n"),
              -2);
}

TEST(SettingsFile, LinesEndingInLfAloneKeepTheirWholeValue) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    ASSERT_EQ(ApplySettingsText(window, "ChipName:KR2G700\nInterfaceType:UART\nUART Baudrate:57600\n"
                                        "Flash Location:External\nFlash Interface:QSPI\nFlash Type:W25Q32FW\n"
                                        "Option:Erase\nErase:Erase Block\nBlock Number:0;2;5;\n"
                                        "Sector Number:No Sector\n"),
              0);
    EXPECT_EQ(window.family(), "KR2G700");
    EXPECT_EQ(window.uartPanel.baudRate(), 57600u);
    EXPECT_EQ(window.flashTypeList.SelectedText(), "W25Q32FW");
    EXPECT_EQ(window.visiblePage(), MainPage::Erase);
    EXPECT_TRUE(window.erasePage.eraseBlockRadio.checked);
    EXPECT_TRUE(window.erasePage.blockList.enabled);
    EXPECT_EQ(window.erasePage.blockList.selections, (std::vector<int>{0, 2, 5}));
}

TEST(SettingsFile, EraseSectionWithoutAnEraseLineKeepsThePagesType) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    window.PressErase();
    window.erasePage.ClickEraseSector();
    ASSERT_EQ(ApplySettingsText(window, "ChipName:KR2A600\r\nOption:Erase\r\nSector Number:4;6\r\n"), 0);
    EXPECT_TRUE(window.erasePage.eraseSectorRadio.checked);
    EXPECT_EQ(window.erasePage.startField.text, "4");
    EXPECT_EQ(window.erasePage.endField.text, "6");
    EXPECT_TRUE(window.erasePage.startField.enabled);
}

TEST(SettingsFile, MenusSaveAndLoadWithTheirMessages) {
    TempDir dir;
    RecordingPrompt prompt;
    ScriptedChooser chooser;
    CCorvaneDlg window(prompt, &chooser);
    window.PressRead();
    window.readPage.addressField.text = "20";
    const std::string path = (dir / "job.txt").string();
    chooser.answers.push_back(path);
    SaveSettingsFromMenu(window, chooser, prompt);
    ASSERT_EQ(chooser.requests.size(), 1u);
    EXPECT_TRUE(chooser.requests[0].save);
    EXPECT_EQ(chooser.requests[0].filter, "text Files (*.txt)|*.txt||");
    // Saved with the extension the filter shows, so File > Load lists it; Load shows ".cfg" too.
    EXPECT_EQ(chooser.requests[0].defaultExtension, "txt");
    EXPECT_TRUE(chooser.requests[0].overwritePrompt);

    CCorvaneDlg fresh(prompt);
    chooser.answers.push_back(path);
    LoadSettingsFromMenu(fresh, chooser, prompt);
    ASSERT_EQ(chooser.requests.size(), 2u);
    EXPECT_EQ(chooser.requests[1].filter, "text Files (*.txt *.cfg)|*.txt;*.cfg|");
    EXPECT_EQ(fresh.readPage.addressField.text, "20");
    EXPECT_EQ(fresh.visiblePage(), MainPage::Read);

    WriteTextFile(dir / "bad.txt", "ChipName:KR2X\r\n");
    chooser.answers.push_back((dir / "bad.txt").string());
    LoadSettingsFromMenu(fresh, chooser, prompt);
    EXPECT_EQ(LoadSettings(fresh, (dir / "none.txt").string(), prompt), -1);
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"Save setting successfully", "Load setting successfully!",
                                                         "Load setting is failed!", "Load File is Lost!"}));
}

}  // namespace

namespace {

// KR2H70X chosen, then KR2A600: the flash type list still shows W25Q80BV, which a file of the
// KR2A600 must not carry (a fresh window has no such entry); files saved so before still load.
TEST(SettingsFile, AFamilyWithoutAFlashTypeWritesNoneLeftOverByTheFamilyBefore) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    window.ChooseFamily("KR2H70X");
    window.ChooseFamily("KR2A600");
    window.PressRead();
    const std::string text = SettingsText(window);
    EXPECT_NE(text.find("Flash Type:\r\n"), std::string::npos) << text;
    CCorvaneDlg fresh(prompt);
    EXPECT_EQ(ApplySettingsText(fresh, text), 0);

    std::string old = text;
    old.replace(old.find("Flash Type:"), 11, "Flash Type:W25Q80BV");
    CCorvaneDlg another(prompt);
    EXPECT_EQ(ApplySettingsText(another, old), 0);
    EXPECT_EQ(another.visiblePage(), MainPage::Read);
}

TEST(SettingsFile, AFailedLoadSaysWhichLineAndKeyStoppedIt) {
    RecordingPrompt prompt;
    CCorvaneDlg window(prompt);
    SettingsLoadStop stop;
    EXPECT_EQ(ApplySettingsText(window, "ChipName:KR2A600\r\nInterfaceType:JLINK\r\nJLINK Speed:7\r\n", &stop), -2);
    EXPECT_EQ(stop.line, 3);
    EXPECT_EQ(stop.key, "JLINK Speed");
    EXPECT_EQ(stop.value, "7");
    // In a section too.
    EXPECT_EQ(ApplySettingsText(window, "ChipName:KR2A600\r\n# a note\r\nOption:Flash\r\nQSPI:Fastest\r\n", &stop), -2);
    EXPECT_EQ(stop.line, 4);
    EXPECT_EQ(stop.key, "QSPI");
}

}  // namespace
