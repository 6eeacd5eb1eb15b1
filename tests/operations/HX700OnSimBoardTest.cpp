// The KR2H70X program page and worker end to end: the page filled and started, the real flash
// session against a simulated board over J-Link, UART and USB DFU, the flash read back from the
// board and the board's own protocol checks.
#include <gtest/gtest.h>

#include "HexFiles.h"
#include "OperationBench.h"
#include "operations/HX700FlashDlg.h"
#include "operations/HX700ProgramWorker.h"

namespace tavrel::test {
namespace {

constexpr uint32_t kCapacity = 0x40000;  // W25Q20CL

class HX700OnSimBoard : public ::testing::Test {
protected:
    std::unique_ptr<OperationBench> MakeBench(const std::string& interfaceName, const std::string& more = "") {
        return std::make_unique<OperationBench>("chip=KR2H70X flash-type=W25Q20CL" + more, interfaceName, kCapacity);
    }

    // The page as a person fills it; the run as the main window starts it.
    bool Program(OperationBench& bench, const std::string& address, int eraseMode, const std::string& image) {
        HX700FlashDlg page(bench.prompt);
        page.flashAddress.text = address;
        page.ClickEraseMode(eraseMode);
        page.ClickVerify();
        page.SetImagePath(image);
        const auto request = page.Start(bench.Selection("KR2H70X", "W25Q20CL"));
        EXPECT_TRUE(request);
        if (!request) return false;
        RunContext context = MakeRunContext(bench, bench.host, bench.prompt);
        return Succeeded(RunHX700Program(*request, context));
    }

    TempDir files;
};

TEST_F(HX700OnSimBoard, ImageLandsAtItsAddressAndVerifiesOverEveryInterface) {
    const auto image = PatternBytes(5000, 9);
    WriteFileBytes(files / "boot.bin", image);
    const struct {
        const char* interfaceName;
        int eraseMode;
    } cases[] = {{"JLINK", kEraseBlocksByFile}, {"UART", kEraseSectorsByFile}, {"USB", kEraseSectorsByFile},
                 {"USB", kEraseAllFlash}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.interfaceName) + " erase mode " + std::to_string(c.eraseMode));
        auto bench = MakeBench(c.interfaceName);
        ASSERT_TRUE(Program(*bench, "3000", c.eraseMode, (files / "boot.bin").string()));
        EXPECT_EQ(bench->Flash(0x3000, 5000), image);
        EXPECT_EQ(bench->prompt.messages, std::vector<std::string>{"Verify Sucess"});
        ExpectCleanEnd(*bench, kOperationProgram, "Flash Success");
        EXPECT_EQ(bench->host.done[0].second, kPageHX700);
    }
}

TEST_F(HX700OnSimBoard, AnImageOf4097BytesOverDfuEndsAtTheFlashEnd) {
    const auto image = PatternBytes(4097, 4);
    WriteFileBytes(files / "odd.bin", image);
    auto bench = MakeBench("USB");
    ASSERT_TRUE(Program(*bench, "3EFFF", kEraseSectorsByFile, (files / "odd.bin").string()))
        << ::testing::PrintToString(bench->prompt.messages) << bench->Violations();
    EXPECT_EQ(bench->Flash(0x3EFFF, 4097), image);
    // The device information (mode 2), the flash mode once for the writes with an address before
    // each chunk, then the reads; the last read of four bytes ends at the flash end.
    EXPECT_EQ(bench->DfuTransfers(),
              (std::vector<std::string>{"mode 2", "mode 1", "address 0x3EFFF", "write 2048", "address 0x3F7FF",
                                        "write 2048", "address 0x3FFFF", "write 1", "mode 1", "address 0x3EFFF",
                                        "read 2048", "mode 1", "address 0x3F7FF", "read 2048", "mode 1",
                                        "address 0x3FFFC", "read 4"}));
    ExpectCleanEnd(*bench, kOperationProgram, "Flash Success");
}

TEST_F(HX700OnSimBoard, AProtectedDeviceIsUnlockedOrTheRunEndsOnCancelWithTheDeviceClosed) {
    const std::string password(64, 'A');
    const auto image = PatternBytes(300, 2);
    WriteFileBytes(files / "boot.bin", image);

    auto bench = MakeBench("USB", " dfu-protected dfu-password=" + password);
    bench->prompt.answers = {{true, 1, password}};
    ASSERT_TRUE(Program(*bench, "0", kEraseAllFlash, (files / "boot.bin").string()));
    EXPECT_EQ(bench->Flash(0, 300), image);
    ExpectCleanEnd(*bench, kOperationProgram, "Flash Success");

    auto cancelled = MakeBench("USB", " dfu-protected dfu-password=" + password);
    cancelled->prompt.answers = {{false, 0, ""}};
    EXPECT_FALSE(Program(*cancelled, "0", kEraseAllFlash, (files / "boot.bin").string()));
    EXPECT_EQ(cancelled->prompt.securityFamilies, std::vector<std::string>{"KR2H70X"});
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(cancelled->Flash(i, 1)[0], PatternByte(i));  // nothing erased
    ExpectCleanEnd(*cancelled, kOperationProgram, "Flash Failed");
    // The device was released: a second run finds it again.
    cancelled->prompt.answers = {{true, 1, password}};
    cancelled->host = {};
    EXPECT_TRUE(Program(*cancelled, "0", kEraseAllFlash, (files / "boot.bin").string()));
}

}  // namespace
}  // namespace tavrel::test
