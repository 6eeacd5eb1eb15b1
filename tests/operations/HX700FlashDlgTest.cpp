// The KR2H70X program page without a window: initial state, Browse, Start's checks against the
// chosen flash type with their messages, the request it fills, and the run's lock.
#include <gtest/gtest.h>

#include "Recorders.h"
#include "operations/HX700FlashDlg.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

class HX700FlashDlgTest : public ::testing::Test {
protected:
    HX700FlashDlgTest() {
        target.family = "KR2H70X";
        target.interfaceName = "UART";
        target.comPort = "/dev/ttyS3";
        target.baudRate = 57600;
        target.ApplyFlashType("W25Q20CL");
    }

    // address verify path Browse Start, then the three erase radios.
    std::string Enabled() const {
        std::string bits;
        for (const ControlState* control : {&page.flashAddress, &page.verify, &page.imagePath, &page.browseButton,
                                            &page.startButton, &page.eraseAll, &page.eraseBlocks, &page.eraseSectors})
            bits += control->enabled ? '1' : '0';
        return bits;
    }

    RecordingPrompt prompt;
    ScriptedChooser chooser;
    HX700FlashDlg page{prompt, &chooser};
    TargetSelection target;
};

TEST_F(HX700FlashDlgTest, InitialControlsAndBrowse) {
    EXPECT_EQ(page.addressGroup.text, "Step1: Flash Address");
    EXPECT_EQ(page.flashAddress.label, "0x: ");
    EXPECT_EQ(page.flashAddress.maxLength, 8u);
    EXPECT_TRUE(page.flashAddress.text.empty());
    EXPECT_TRUE(page.eraseAll.checked);
    EXPECT_FALSE(page.eraseBlocks.checked || page.eraseSectors.checked || page.verify.checked);
    EXPECT_EQ(page.optionsGroup.text, "Step3: Options");
    EXPECT_EQ(page.fileGroup.text, "Step5: File");
    EXPECT_TRUE(page.imagePath.readOnly);
    EXPECT_EQ(Enabled(), "11110111");

    EXPECT_FALSE(page.Browse());  // cancelled: nothing changes
    EXPECT_FALSE(page.startButton.enabled);
    chooser.answers = {std::string("/images/boot.bin")};
    EXPECT_TRUE(page.Browse());
    EXPECT_EQ(chooser.requests.back().filter, "Image Files (*.bin)|*.bin||");
    EXPECT_EQ(page.imagePath.text, "/images/boot.bin");
    EXPECT_TRUE(page.startButton.enabled);
}

TEST_F(HX700FlashDlgTest, StartChecksTheAddressAgainstTheFlashSizeThenThePath) {
    const struct {
        std::string address;
        std::string path;
        const char* message;  // null: started
    } cases[] = {
        {"3FFFF", "/i/boot.bin", nullptr},
        {"40000", "/i/boot.bin", "Invalid flash address ! \n"},
        {"", "/i/boot.bin", "Invalid flash address ! \n"},
        {"12G4", "/i/boot.bin", "Invalid flash address ! \n"},
        {"0", "", "Target Image Path is empty ! \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        HX700FlashDlg fresh(prompt);
        prompt.messages.clear();
        fresh.flashAddress.text = c.address;
        fresh.imagePath.text = c.path;
        const auto request = fresh.Start(target);
        if (!c.message) {
            EXPECT_TRUE(request);
            EXPECT_TRUE(prompt.messages.empty());
            continue;
        }
        EXPECT_FALSE(request);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message});
        if (std::string(c.message).find("address") != std::string::npos) {
            EXPECT_TRUE(fresh.flashAddress.text.empty());
        }
    }
}

TEST_F(HX700FlashDlgTest, TheRequestCarriesTheChoicesAndTheRunLocksThePage) {
    page.flashAddress.text = "1a00";
    page.ClickEraseMode(kEraseBlocksByFile);
    page.ClickVerify();
    page.SetImagePath("/i/boot.bin");
    const auto request = page.Start(target);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->chip, "KR2H70X");
    EXPECT_EQ(request->target.interfaceName, "UART");
    EXPECT_EQ(request->fileType, "BIN");
    EXPECT_EQ(request->target.comPort, "/dev/ttyS3");
    EXPECT_EQ(request->target.baudRate, 57600u);
    EXPECT_EQ(request->flashStartAddress, 0x1A00u);
    EXPECT_EQ(request->eraseMode, kEraseBlocksByFile);
    EXPECT_EQ(request->verify, 1);
    EXPECT_EQ(request->flashSize, 0x40000u);
    EXPECT_EQ(request->flashTypeCode, 4);
    EXPECT_EQ(request->imagePath, "/i/boot.bin");
    EXPECT_EQ(Enabled(), "00000000");

    page.OnOperationDone(InterfaceKind::Uart);
    EXPECT_EQ(Enabled(), "11111111");
    page.Start(target);
    page.OnOperationDone(InterfaceKind::Usb);
    EXPECT_EQ(Enabled(), "11111101");
}

}  // namespace
