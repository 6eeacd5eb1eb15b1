// The KR2A600 program page without a window: initial state, enabling rules, Browse, Start's
// checks in their order with their messages, the request it fills, and the run's lock.
#include <gtest/gtest.h>

#include <deque>

#include "Recorders.h"
#include "operations/FlashDlg.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

class FlashDlgTest : public ::testing::Test {
protected:
    // Which of the page's inputs are enabled, in a fixed order, as a string of 0 and 1:
    // Hex Bin address QSPI Init Final CRC Clock all blocks sectors None Secure password verify path Browse Start.
    std::string Enabled() const {
        std::string bits;
        for (const ControlState* control :
             {&page.hexRadio, &page.binRadio, &page.flashAddress, &page.qspiMode, &page.initMemMode,
              &page.finalMemMode, &page.crcMode, &page.clockSource, &page.eraseAll, &page.eraseBlocks,
              &page.eraseSectors, &page.noneRadio, &page.secureRadio, &page.password, &page.verify,
              &page.imagePath, &page.browseButton, &page.startButton})
            bits += control->enabled ? '1' : '0';
        return bits;
    }

    RecordingPrompt prompt;
    ScriptedChooser chooser;
    FlashDlg page{prompt, &chooser};
    TargetSelection target;
};

TEST_F(FlashDlgTest, InitialControls) {
    EXPECT_TRUE(page.hexRadio.checked);
    EXPECT_FALSE(page.binRadio.checked);
    EXPECT_EQ(page.qspiMode.items,
              (std::vector<std::string>{"Normal read", "Fast Read", "Fast read dual out", "Fast read quad out"}));
    EXPECT_EQ(page.initMemMode.items, (std::vector<std::string>{"Normal", "Alt cfg 0", "Alt cfg 1"}));
    EXPECT_EQ(page.finalMemMode.items, page.initMemMode.items);
    EXPECT_EQ(page.crcMode.items, (std::vector<std::string>{"CRC-16-CCITT", "CRC-16-IBM", "CRC-16-T10_DIF",
                                                            "CRC-32-IEEE", "No CRC"}));
    EXPECT_EQ(page.clockSource.items,
              (std::vector<std::string>{"System:200MHz,Reference:XTAL32M", "System:200MHz,Reference:RC32M",
                                        "System:X32M", "System:RC32M"}));
    EXPECT_EQ(page.qspiMode.SelectedText(), "Normal read");
    EXPECT_EQ(page.crcMode.SelectedText(), "No CRC");
    EXPECT_EQ(page.clockSource.SelectedText(), "System:RC32M");
    EXPECT_TRUE(page.eraseAll.checked);
    EXPECT_TRUE(page.noneRadio.checked);
    EXPECT_FALSE(page.verify.checked);
    EXPECT_EQ(page.flashAddress.maxLength, 8u);
    EXPECT_EQ(page.password.maxLength, 8u);
    EXPECT_TRUE(page.imagePath.readOnly);
    EXPECT_EQ(Enabled(), "110111111111101110");
}

TEST_F(FlashDlgTest, EnablingRules) {
    page.ClickSecure();
    EXPECT_EQ(Enabled(), "110111111111111110");
    page.ClickBin();  // security and the mode lists off, the address on
    EXPECT_EQ(Enabled(), "111000001110001110");
    page.ClickSecure();  // disabled: no effect
    page.ClickHex();     // back, and the password follows the still-checked "Secure"
    EXPECT_EQ(Enabled(), "110111111111111110");
    EXPECT_TRUE(page.secureRadio.checked);
    page.ClickNone();
    EXPECT_EQ(Enabled(), "110111111111101110");
}

TEST_F(FlashDlgTest, BrowseFiltersByFileTypeAndEnablesStart) {
    chooser.answers = {std::nullopt, "/images/app.bin"};
    EXPECT_FALSE(page.Browse());
    EXPECT_FALSE(page.startButton.enabled);
    page.ClickBin();
    EXPECT_TRUE(page.Browse());
    ASSERT_EQ(chooser.requests.size(), 2u);
    EXPECT_EQ(chooser.requests[0].filter, "Image Files (*.hex)|*.hex|Image Files (*.bin)|*.bin|"
              "ELF files (*.elf;*.axf;*.out)|*.elf;*.axf;*.out|S-record files (*.srec;*.s19;*.s28;*.s37;*.mot)|*.srec;*.s19;*.s28;*.s37;*.mot||");
    EXPECT_EQ(chooser.requests[1].filter, "Image Files (*.bin)|*.bin|Image Files (*.hex)|*.hex|"
              "ELF files (*.elf;*.axf;*.out)|*.elf;*.axf;*.out|S-record files (*.srec;*.s19;*.s28;*.s37;*.mot)|*.srec;*.s19;*.s28;*.s37;*.mot||");
    EXPECT_TRUE(chooser.requests[1].fileMustExist);
    EXPECT_TRUE(chooser.requests[1].pathMustExist);
    EXPECT_TRUE(chooser.requests[1].hideReadOnly);
    EXPECT_EQ(page.imagePath.text, "/images/app.bin");
    EXPECT_EQ(page.imagePath.caret, page.imagePath.text.size());
    EXPECT_TRUE(page.startButton.enabled);
}

// Start's checks in order: each refusal shows its message, empties and focuses its field, and
// starts nothing.
TEST_F(FlashDlgTest, StartRefusals) {
    struct Case {
        bool bin;
        std::string address;
        bool secure;
        std::string password;
        std::string path;
        std::string message;
        ControlState FlashDlg::*field;  // null: no field is touched
    } cases[] = {
        {true, "", false, "", "a.bin", " Flash address should be 8 bytes, Please check data!", &FlashDlg::flashAddress},
        {true, "000100000", false, "", "a.bin", " Flash address should be 8 bytes, Please check data!", &FlashDlg::flashAddress},
        {true, "100000", false, "", "a.bin", "Invalid flash address ! \n", &FlashDlg::flashAddress},
        {true, "0x1000", false, "", "a.bin", "Invalid flash address ! \n", &FlashDlg::flashAddress},
        {true, "FFFFF", false, "", "", "Target Image Path is empty ! \n", nullptr},
        {false, "", true, "1234567", "a.hex", " Pass word should be 8 bytes, Please check data", &FlashDlg::password},
        {false, "", true, "1234567G", "a.hex", "Invalid Password ! \n", &FlashDlg::password},
        {false, "", true, "1234abCD", "", "Target Image Path is empty ! \n", nullptr},
        {false, "", false, "", "", "Target Image Path is empty ! \n", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message + " " + c.address + c.password);
        RecordingPrompt casePrompt;
        FlashDlg dlg(casePrompt);
        if (c.secure) dlg.ClickSecure();
        if (c.bin) dlg.ClickBin();
        dlg.flashAddress.text = c.address;
        dlg.password.text = c.password;
        dlg.imagePath.text = c.path;
        EXPECT_FALSE(dlg.Start(target));
        EXPECT_EQ(casePrompt.messages, std::vector<std::string>{c.message});
        if (c.field) {
            EXPECT_EQ((dlg.*c.field).text, "");
            EXPECT_TRUE((dlg.*c.field).focused);
        }
        EXPECT_TRUE(dlg.hexRadio.enabled);  // nothing locked
    }
}

TEST_F(FlashDlgTest, StartFillsTheRequestFromTheControlsAndTheTarget) {
    page.Select(page.crcMode, 0);
    page.Select(page.qspiMode, 3);
    page.Select(page.initMemMode, 1);
    page.Select(page.finalMemMode, 2);
    page.Select(page.clockSource, 0);
    page.ClickSecure();
    page.password.text = "89abCDEF";
    page.ClickEraseMode(2);
    page.ClickVerify();
    page.SetImagePath("/images/app.hex");
    target.interfaceName = "UART";
    target.comPort = "/dev/ttyS3";
    target.baudRate = 57600;

    const auto request = page.Start(target);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->operation, "FLASH");
    EXPECT_EQ(request->chip, "KR2A600");
    EXPECT_EQ(request->target.interfaceName, "UART");
    EXPECT_EQ(request->fileType, "HEX");
    EXPECT_EQ(request->target.comPort, "/dev/ttyS3");
    EXPECT_EQ(request->target.baudRate, 57600u);
    EXPECT_EQ(request->crcMode, 0);
    EXPECT_EQ(request->qspiMode, 3);
    EXPECT_EQ(request->initMemMode, 1);
    EXPECT_EQ(request->finalMemMode, 2);
    EXPECT_EQ(request->clockSource, 0);
    EXPECT_EQ(request->eraseMode, 2);
    EXPECT_EQ(request->securityMode, 2);
    EXPECT_EQ(request->password, 0x89ABCDEFu);
    EXPECT_EQ(request->verify, 4);
    EXPECT_EQ(request->imagePath, "/images/app.hex");
    EXPECT_EQ(request->target.comPort, "/dev/ttyS3");
    EXPECT_TRUE(prompt.messages.empty());

    // Locked for the run, and freed by the page's rules when it is done.
    EXPECT_EQ(Enabled(), std::string(18, '0'));
    page.OnOperationDone();
    EXPECT_EQ(Enabled(), "110111111111111111");
}

TEST_F(FlashDlgTest, BinRequestOverJlinkAndTheEnterKey) {
    page.ClickBin();
    page.ClickEraseMode(1);
    page.SetImagePath("/images/app.bin");
    target.jlinkSpeedKhz = 4000;
    page.flashAddress.text = "fffff";

    EXPECT_FALSE(page.PressEnter(page.imagePath, target));  // Enter elsewhere starts nothing
    const auto request = page.PressEnter(page.flashAddress, target);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->fileType, "BIN");
    EXPECT_EQ(request->flashStartAddress, 0xFFFFFu);
    EXPECT_EQ(request->target.jlinkSpeedKhz, 4000u);
    EXPECT_EQ(request->eraseMode, 1);
    EXPECT_EQ(request->securityMode, 3);
    EXPECT_EQ(request->verify, 5);

    page.OnOperationDone();
    EXPECT_EQ(Enabled(), "111000001110001111");
}

TEST_F(FlashDlgTest, EnterInThePasswordFieldIsStart) {
    page.ClickSecure();
    page.password.text = "123";
    page.SetImagePath("/images/app.hex");
    EXPECT_FALSE(page.PressEnter(page.password, target));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{" Pass word should be 8 bytes, Please check data"});
}

}  // namespace
