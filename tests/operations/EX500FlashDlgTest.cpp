// The KR2E500-group program page without a window: initial state, the boot-UART lists per family
// and port, enabling rules, Start's checks with their messages, the request, and the run's lock.
#include <gtest/gtest.h>

#include "Recorders.h"
#include "operations/EX500FlashDlg.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

using Items = std::vector<std::string>;

class EX500FlashDlgTest : public ::testing::Test {
protected:
    // Hex Bin Advanced Protection address UART Location Baud Delay CRC all blocks sectors None Secure
    // password verify path Browse Start.
    std::string Enabled() const {
        std::string bits;
        for (const ControlState* control :
             {&page.hexRadio, &page.binRadio, &page.advancedBin, &page.headerProtection, &page.flashAddress,
              &page.uartPort, &page.uartLocation, &page.uartBaudRate, &page.bootDelay, &page.crc, &page.eraseAll,
              &page.eraseBlocks, &page.eraseSectors, &page.noneRadio, &page.secureRadio, &page.password,
              &page.verify, &page.imagePath, &page.browseButton, &page.startButton})
            bits += control->enabled ? '1' : '0';
        return bits;
    }

    TargetSelection Target(const std::string& family, const std::string& interfaceName = "JLINK") {
        TargetSelection target;
        target.family = family;
        target.interfaceName = interfaceName;
        target.comPort = "/dev/ttyS3";
        target.baudRate = 57600;
        target.jlinkSpeedKhz = 4000;
        if (family == "KR2E550" || family == "KR2G700") target.ApplyFlashType(family == "KR2E550" ? "W25Q20CL" : "W25Q32FW");
        return target;
    }

    std::string Refused(const TargetSelection& target) {
        prompt.messages.clear();
        EXPECT_FALSE(page.Start(target).has_value());
        EXPECT_EQ(prompt.messages.size(), 1u);
        return prompt.messages.empty() ? std::string() : prompt.messages.back();
    }

    RecordingPrompt prompt;
    ScriptedChooser chooser;
    EX500FlashDlg page{prompt, &chooser};
};

TEST_F(EX500FlashDlgTest, InitialControls) {
    EXPECT_TRUE(page.hexRadio.checked);
    EXPECT_FALSE(page.advancedBin.checked);
    EXPECT_TRUE(page.headerProtection.checked);
    EXPECT_EQ(page.flashAddress.label, "0x : ");
    EXPECT_EQ(page.flashAddress.maxLength, 8u);
    EXPECT_EQ(page.uartPort.items, (Items{"UART1", "UART2"}));
    EXPECT_EQ(page.uartPort.SelectedText(), "UART2");
    EXPECT_EQ(page.uartLocation.items, (Items{"GPIO4,6 (Default)", "GPIO6,7", "GPIO21,22"}));
    EXPECT_EQ(page.uartBaudRate.items, (Items{"9600", "14400", "19200", "38400", "56000", "57600", "115200"}));
    EXPECT_EQ(page.uartBaudRate.SelectedText(), "115200");
    EXPECT_EQ(page.bootDelay.items, (Items{"20ms", "40ms", "1 Sec", "2 Sec", "3 Sec"}));
    EXPECT_EQ(page.bootDelay.SelectedText(), "1 Sec");
    EXPECT_EQ(page.crc.items, (Items{"CRC-16-CCITT", "CRC-16-IBM", "CRC-16-T10_DIF", "CRC-32-IEEE", "No CRC"}));
    EXPECT_EQ(page.crc.SelectedText(), "No CRC");
    EXPECT_TRUE(page.eraseAll.checked);
    EXPECT_TRUE(page.noneRadio.checked);
    EXPECT_FALSE(page.verify.checked);
    EXPECT_EQ(page.passwordNote.text, "Note: Remember the password");
    EXPECT_EQ(page.jtagWarning.text, "Warning: If password is set,JTag will be closed");
    EXPECT_EQ(Enabled(), "11000111111111101110");

    RecordingPrompt other;
    EX500FlashDlg g700(other, nullptr, "KR2G700");
    EXPECT_EQ(g700.uartPort.SelectedText(), "UART1");
    EXPECT_EQ(g700.uartLocation.items, (Items{"GPIO11,12 (Default)", "GPIO6,7"}));
}

TEST_F(EX500FlashDlgTest, FamilyUpdateRefillsTheBootUartListsAndAdvancedBin) {
    page.FamilyUpdate("KR2E700");
    EXPECT_EQ(page.uartPort.items, (Items{"UART0", "UART1"}));
    EXPECT_EQ(page.uartPort.SelectedText(), "UART0");
    EXPECT_EQ(page.uartLocation.items, (Items{"GPIO6,7"}));
    EXPECT_FALSE(page.advancedBin.visible);
    ASSERT_TRUE(page.Select(page.uartPort, 1));
    EXPECT_EQ(page.uartLocation.items, (Items{"GPIO0,1", "GPIO12,13"}));
    EXPECT_EQ(page.uartLocation.selection, 0);

    page.FamilyUpdate("KR2G700");
    EXPECT_EQ(page.uartPort.SelectedText(), "UART2");
    EXPECT_EQ(page.uartLocation.items, (Items{"GPIO20,22 (Default)"}));
    EXPECT_TRUE(page.advancedBin.visible);
    page.FamilyUpdate("KR2E550");
    EXPECT_FALSE(page.advancedBin.visible);

    // Without the rebuild the chosen port stays and only its locations are refilled.
    page.FamilyUpdate("KR2E500");
    ASSERT_TRUE(page.Select(page.uartPort, 0));
    page.FamilyUpdate("KR2E550", false);
    EXPECT_EQ(page.uartPort.SelectedText(), "UART1");
    EXPECT_EQ(page.uartLocation.items, (Items{"GPIO6,7", "GPIO11,12", "GPIO1,17"}));
}

TEST_F(EX500FlashDlgTest, EnablingRules) {
    page.ClickSecure();
    EXPECT_EQ(Enabled(), "11000111111111111110");
    page.ClickBin();
    EXPECT_EQ(Enabled(), "11111000001110001110");
    page.ClickEraseMode(2);
    page.ClickAdvancedBin();
    EXPECT_TRUE(page.advancedBin.checked);
    EXPECT_EQ(Enabled(), "11100000001100001110");
    EXPECT_TRUE(page.eraseAll.checked);  // sectors by file does not go with an advanced bin
    page.ClickEraseMode(2);
    EXPECT_FALSE(page.eraseSectors.checked);
    page.ClickAdvancedBin();
    EXPECT_EQ(Enabled(), "11111000001110001110");
    page.ClickHex();
    EXPECT_EQ(Enabled(), "11000111111111111110");
    page.ClickNone();
    EXPECT_FALSE(page.password.enabled);
    EXPECT_FALSE(page.Select(page.crc, 5));

    // A family without advanced bins drops a checked one.
    page.ClickBin();
    page.ClickAdvancedBin();
    page.FamilyUpdate("KR2E700");
    EXPECT_FALSE(page.advancedBin.checked);
    EXPECT_TRUE(page.flashAddress.enabled);
}

TEST_F(EX500FlashDlgTest, BrowseFiltersByFileType) {
    chooser.answers = {std::nullopt, std::string("/img/app.bin")};
    EXPECT_FALSE(page.Browse());
    EXPECT_FALSE(page.startButton.enabled);
    page.ClickBin();
    EXPECT_TRUE(page.Browse());
    EXPECT_EQ(chooser.requests[0].filter, "Image Files (*.hex)|*.hex|Image Files (*.bin)|*.bin|"
              "ELF files (*.elf;*.axf;*.out)|*.elf;*.axf;*.out|S-record files (*.srec;*.s19;*.s28;*.s37;*.mot)|*.srec;*.s19;*.s28;*.s37;*.mot||");
    EXPECT_EQ(chooser.requests[1].filter, "Image Files (*.bin)|*.bin|Image Files (*.hex)|*.hex|"
              "ELF files (*.elf;*.axf;*.out)|*.elf;*.axf;*.out|S-record files (*.srec;*.s19;*.s28;*.s37;*.mot)|*.srec;*.s19;*.s28;*.s37;*.mot||");
    EXPECT_EQ(page.imagePath.text, "/img/app.bin");
    EXPECT_TRUE(page.startButton.enabled);
}

TEST_F(EX500FlashDlgTest, HexRequest) {
    page.FamilyUpdate("KR2E700");
    page.Select(page.uartPort, 1);
    page.Select(page.uartLocation, 1);
    page.Select(page.bootDelay, 4);
    page.Select(page.crc, 3);
    page.Select(page.uartBaudRate, 5);
    page.ClickSecure();
    page.password.text = "a1B2c3D4";
    page.ClickEraseMode(2);
    page.ClickVerify();
    page.SetImagePath("/img/app.hex");
    const auto request = page.Start(Target("KR2E700", "UART"));
    ASSERT_TRUE(request);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(request->chip, "KR2E700");
    EXPECT_EQ(request->target.interfaceName, "UART");
    EXPECT_EQ(request->fileType, "HEX");
    EXPECT_EQ(request->target.comPort, "/dev/ttyS3");
    EXPECT_EQ(request->target.baudRate, 57600u);
    EXPECT_EQ(request->advanced, -1);
    EXPECT_EQ(request->bootDelayIndex, 4);
    EXPECT_EQ(request->uartIndex, 1);
    EXPECT_EQ(request->uartLocationCode, 3u);  // "GPIO12,13"
    EXPECT_EQ(request->uartBaudRate, 57600u);
    EXPECT_EQ(request->crcIndex, 3);
    EXPECT_EQ(request->eraseMode, 2);
    EXPECT_EQ(request->securityMode, 2);
    EXPECT_EQ(request->password, 0xA1B2C3D4u);
    EXPECT_EQ(request->verify, 4);
    EXPECT_EQ(request->imagePath, "/img/app.hex");
    EXPECT_EQ(request->flashSize, 0x80000u);
    EXPECT_EQ(request->flashTypeCode, 0);
    EXPECT_EQ(Enabled(), std::string(20, '0'));

    page.OnOperationDone();
    EXPECT_EQ(Enabled(), "11000111111111111111");
}

TEST_F(EX500FlashDlgTest, BinRequests) {
    page.FamilyUpdate("KR2G700");
    page.ClickBin();
    page.flashAddress.text = "3FFFF";
    page.SetImagePath("/img/app.bin");
    auto request = page.Start(Target("KR2G700"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->fileType, "BIN");
    EXPECT_EQ(request->advanced, 0);
    EXPECT_EQ(request->flashStartAddress, 0x3FFFFu);
    EXPECT_EQ(request->securityMode, 3);
    EXPECT_EQ(request->verify, 5);
    EXPECT_EQ(request->eraseMode, 0);
    EXPECT_EQ(request->target.jlinkSpeedKhz, 4000u);
    EXPECT_EQ(request->flashSize, 0x400000u);  // W25Q32FW
    EXPECT_EQ(request->flashTypeCode, 16);
    EXPECT_EQ(request->uartBaudRate, 0u);  // HEX only

    page.OnOperationDone();
    page.ClickAdvancedBin();
    page.flashAddress.text = "";
    request = page.Start(Target("KR2G700"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->advanced, 1);
    EXPECT_EQ(request->flashStartAddress, 0u);
    page.OnOperationDone();
    EXPECT_EQ(Enabled(), "11100000001100001111");

    // Without protection a bin file can start at offset 0.
    page.ClickAdvancedBin();
    page.ClickHeaderProtection();
    page.flashAddress.text = "0";
    request = page.Start(Target("KR2G700"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->flashStartAddress, 0u);
}

TEST_F(EX500FlashDlgTest, StartRefusals) {
    page.ClickBin();
    page.SetImagePath("/img/app.bin");
    struct Case {
        const char* family;
        const char* address;
        const char* message;
    };
    const Case cases[] = {
        {"KR2E500", "", " Flash address should be 1 - 8 bytes, Please check data!"},
        {"KR2E500", "123456789", " Flash address should be 1 - 8 bytes, Please check data!"},
        {"KR2E500", "1F", "0x0-0x1F is protected for boot info! \n"},
        {"KR2E500", "80000", "Invalid flash address ! \n"},
        {"KR2A500", "80000", "Invalid flash address ! \n"},
        {"KR2E700", "FFFFFFFF", "Invalid flash address ! \n"},
        {"KR2E550", "40000", "Invalid flash address ! \n"},  // W25Q20CL: 0x40000 bytes
        {"KR2E500", "12G4", "Invalid flash address ! \n"},
    };
    for (const Case& c : cases) {
        page.FamilyUpdate(c.family);
        page.flashAddress.text = c.address;
        EXPECT_EQ(Refused(Target(c.family)), c.message) << c.family << " " << c.address;
        EXPECT_TRUE(page.flashAddress.text.empty());
        EXPECT_TRUE(page.flashAddress.focused);
        EXPECT_TRUE(page.startButton.enabled);
    }
    page.FamilyUpdate("KR2E550");
    page.flashAddress.text = "3FFFF";
    EXPECT_TRUE(page.Start(Target("KR2E550")));
    page.OnOperationDone();
    page.flashAddress.text = "20";
    EXPECT_TRUE(page.Start(Target("KR2E550")));
    page.OnOperationDone();

    page.ClickHex();
    page.ClickSecure();
    page.password.text = "1234567";
    EXPECT_EQ(Refused(Target("KR2E550")), " Pass word should be 8 bytes, Please check data");
    page.password.text = "1234567G";
    EXPECT_EQ(Refused(Target("KR2E550")), "Invalid Password ! \n");
    page.ClickNone();
    page.SetImagePath("");
    EXPECT_EQ(Refused(Target("KR2E550")), "Target Image Path is empty ! \n");
}

TEST_F(EX500FlashDlgTest, KR2E550LocationCodeIsTheIndex) {
    page.FamilyUpdate("KR2E550");
    page.Select(page.uartPort, 0);
    page.Select(page.uartLocation, 2);
    page.SetImagePath("/img/app.hex");
    const auto request = page.Start(Target("KR2E550"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->uartLocationCode, 2u);  // the header adds one
    EXPECT_EQ(request->flashSize, 0x40000u);
    EXPECT_EQ(request->flashTypeCode, 4);
    EXPECT_EQ(request->securityMode, 3);
}

}  // namespace
