#include <gtest/gtest.h>

#include "Recorders.h"
#include "links/panels/JlinkConfigDlg.h"
#include "links/panels/UartConfigDlg.h"
#include "links/panels/UartSecDlg.h"

namespace tavrel {
namespace {

TEST(JlinkConfigDlg, OffersTheSpeedsFastestFirst) {
    JlinkConfigDlg panel;
    EXPECT_EQ(panel.speedList.items, (std::vector<std::string>{"8000", "4000", "2000", "1000", "500", "100"}));
    EXPECT_EQ(panel.speedList.selection, 0);
    EXPECT_EQ(panel.speedKhz(), 8000u);
    panel.ChooseSpeed(4);
    EXPECT_EQ(panel.speedKhz(), 500u);
    panel.ChooseSpeed(6);  // outside the list
    EXPECT_EQ(panel.speedKhz(), 500u);
    EXPECT_EQ(panel.speedLabel.text, "Jlink Speed");
    EXPECT_EQ(panel.unitLabel.text, "kHz");
}

TEST(UartConfigDlg, BaudListsPerFamily) {
    const std::vector<std::string> wide = {"9600",  "14400",  "19200",  "38400", "56000",
                                           "57600", "115200", "230400", "300000"};
    const std::vector<std::string> narrow(wide.begin(), wide.begin() + 7);
    struct Case {
        const char* family;
        const std::vector<std::string>* expected;
    };
    for (const Case& c : {Case{"KR2A600", &wide}, Case{"KR2H70X", &wide}, Case{"KR2E500", &narrow},
                          Case{"KR2A500", &narrow}, Case{"KR2E550", &narrow}, Case{"KR2G700", &narrow},
                          Case{"KR2E700", &narrow}}) {
        SCOPED_TRACE(c.family);
        UartConfigDlg panel(std::vector<std::string>{"/dev/ttyUSB0"});
        panel.SetFamily(c.family);
        EXPECT_EQ(panel.baudList.items, *c.expected);
        EXPECT_EQ(panel.baudList.SelectedText(), "115200");
        EXPECT_EQ(panel.baudRate(), 115200u);
    }
    UartConfigDlg panel(std::vector<std::string>{"/dev/ttyUSB0"});
    panel.SetFamily("kr2a600");  // names are compared exactly
    EXPECT_TRUE(panel.baudList.items.empty());
    EXPECT_FALSE(panel.baudList.HasSelection());
}

TEST(UartConfigDlg, SetUpForKR2A600ThenSwitchingToKR2E700KeepsSevenEntriesAt115200) {
    UartConfigDlg panel(std::vector<std::string>{"/dev/ttyS0", "/dev/ttyUSB0"});
    EXPECT_EQ(panel.baudList.items.size(), 9u);
    EXPECT_EQ(panel.portName(), "/dev/ttyS0");
    EXPECT_EQ(panel.baudRate(), 115200u);
    panel.ChooseBaud(0);
    panel.ChoosePort(1);
    EXPECT_EQ(panel.baudRate(), 9600u);
    EXPECT_EQ(panel.portName(), "/dev/ttyUSB0");
    panel.SetFamily("KR2E700");
    EXPECT_EQ(panel.baudList.items.size(), 7u);
    EXPECT_EQ(panel.baudList.selection, 6);
    EXPECT_EQ(panel.baudList.SelectedText(), "115200");
    // The rate in use is the one the list shows, not the one chosen for the earlier family.
    EXPECT_EQ(panel.baudRate(), 115200u);
    EXPECT_EQ(panel.portName(), "/dev/ttyUSB0");
}

TEST(UartConfigDlg, PortListNoneWhenThereIsNoPortAndEmptyWhenTheListCannotBeRead) {
    UartConfigDlg none(std::vector<std::string>{});
    EXPECT_EQ(none.portList.items, std::vector<std::string>{"None"});
    EXPECT_EQ(none.portName(), "None");
    UartConfigDlg unreadable(std::nullopt);
    EXPECT_TRUE(unreadable.portList.items.empty());
    EXPECT_EQ(unreadable.portName(), "");
    unreadable.SetEnabled(false);
    EXPECT_FALSE(unreadable.portList.enabled);
    EXPECT_FALSE(unreadable.baudList.enabled);
}

TEST(UartSecDlg, SetUpByFamily) {
    for (const char* family : {"KR2A600", "KR2H70X"}) {
        SCOPED_TRACE(family);
        UartSecDlg dialog(family);
        EXPECT_EQ(dialog.title, "Tavrel");
        EXPECT_TRUE(dialog.eraseRadio.visible);
        EXPECT_TRUE(dialog.eraseRadio.checked);
        EXPECT_FALSE(dialog.passwordRadio.checked);
        EXPECT_FALSE(dialog.note.visible);
        EXPECT_FALSE(dialog.passwordField.enabled);
        EXPECT_EQ(dialog.mode(), 0);
        dialog.ChoosePassword();
        EXPECT_TRUE(dialog.passwordField.enabled);
        EXPECT_EQ(dialog.mode(), 1);
        dialog.ChooseErase();
        EXPECT_FALSE(dialog.passwordField.enabled);
        EXPECT_EQ(dialog.mode(), 0);
    }
    for (const char* family : {"KR2E500", "KR2A500", "KR2E550", "KR2G700", "KR2E700"}) {
        SCOPED_TRACE(family);
        UartSecDlg dialog(family);
        EXPECT_FALSE(dialog.eraseRadio.visible);
        EXPECT_TRUE(dialog.passwordRadio.checked);
        EXPECT_TRUE(dialog.note.visible);
        EXPECT_EQ(dialog.note.text, "Note: Input the password or check the hardware connection");
        EXPECT_TRUE(dialog.passwordField.enabled);
        EXPECT_EQ(dialog.passwordField.maxLength, 8u);
        EXPECT_EQ(dialog.mode(), 1);
    }
    EXPECT_EQ(UartSecDlg("KR2H70X").passwordField.maxLength, 64u);
    EXPECT_EQ(UartSecDlg("KR2A600").eraseRadio.text, "Erase all  flash");
}

TEST(UartSecDlg, PasswordLengthRules) {
    struct Case {
        const char* family;
        size_t digits;
        bool accepted;
        const char* message;
    };
    const char* const four = " Pass word should be 4 bytes, Please check data";
    const char* const sixtyFour = " Pass word should be 64 bytes, Please check data";
    for (const Case& c : {Case{"KR2E500", 8, true, nullptr}, Case{"KR2E500", 7, false, four},
                          Case{"KR2A600", 6, false, four}, Case{"KR2H70X", 64, true, nullptr},
                          Case{"KR2H70X", 63, false, sixtyFour}, Case{"KR2H70X", 8, false, sixtyFour}}) {
        SCOPED_TRACE(std::string(c.family) + " " + std::to_string(c.digits));
        test::RecordingPrompt prompt;
        UartSecDlg dialog(c.family);
        dialog.ChoosePassword();
        const std::string text = std::string("0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789ABCDEF")
                                     .substr(0, c.digits);
        dialog.TypePassword(text);
        EXPECT_EQ(dialog.PressOk(prompt), c.accepted);
        // Either way the field is emptied and takes the focus.
        EXPECT_EQ(dialog.passwordField.text, "");
        EXPECT_TRUE(dialog.passwordField.focused);
        if (c.accepted) {
            EXPECT_TRUE(prompt.messages.empty());
            EXPECT_EQ(dialog.outcome(), UartSecDlg::Outcome::Ok);
            SecurityAnswer answer = dialog.Result();
            EXPECT_TRUE(answer.ok);
            EXPECT_EQ(answer.mode, 1);
            EXPECT_EQ(answer.password, text);
        } else {
            EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message});
            EXPECT_EQ(dialog.outcome(), UartSecDlg::Outcome::Open);
            EXPECT_FALSE(dialog.Result().ok);
        }
    }
}

TEST(UartSecDlg, TheFieldTakesHexDigitsUpToItsLengthAndEraseNeedsNoPassword) {
    UartSecDlg dialog("KR2E500");
    dialog.TypePassword("0x12-34 56zz789ab");
    EXPECT_EQ(dialog.passwordField.text, "01234567");
    UartSecDlg locked("KR2A600");
    test::RecordingPrompt prompt;
    EXPECT_TRUE(locked.PressOk(prompt));
    EXPECT_TRUE(prompt.messages.empty());
    SecurityAnswer answer = locked.Result();
    EXPECT_TRUE(answer.ok);
    EXPECT_EQ(answer.mode, 0);
    UartSecDlg cancelled("KR2A600");
    cancelled.PressCancel();
    EXPECT_FALSE(cancelled.Result().ok);
}

}  // namespace
}  // namespace tavrel
