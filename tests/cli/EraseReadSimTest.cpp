// "tavrel-cli erase" and "tavrel-cli read" over UART (both boot ROM protocols) and USB DFU,
// against a `tavrel-cli sim` board in its own process whose flash holds a known pattern.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "CliRun.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "SimProcess.h"

namespace tavrel {
namespace {

// Flash byte i holds i & 0xFF.
std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i);
    return bytes;
}

struct Case {
    const char* family;
    const char* interfaceName;
    size_t flashSize;
};

class EraseReadSim : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        const Case& c = GetParam();
        test::WriteFileBytes(folder / "flash.bin", Pattern(c.flashSize));
        socket = (folder / "board.sock").string();
        board = std::make_unique<test::SimProcess>(std::vector<std::string>{
            "--chip", c.family, "--socket", socket, "--flash-file", (folder / "flash.bin").string()});
        ASSERT_TRUE(board->WaitServing()) << board->output();
        port = test::WordAfter(board->output(), "Serial door: ");
        loaderDir = test::WordAfter(board->output(), "  loader files: ");
    }

    test::ProcessResult Run(std::vector<std::string> args) {
        const Case& c = GetParam();
        std::vector<std::string> argv = tavrel::test::TavrelCliArgs({});
        argv.insert(argv.end(), args.begin(), args.end());
        argv.insert(argv.end(), {"--chip", c.family, "--interface", c.interfaceName, "--loader-dir", loaderDir});
        if (std::string(c.interfaceName) == "UART") argv.insert(argv.end(), {"--port", port});
        return test::RunProcess(argv, {{"TAVREL_SIM_SOCKET", socket}, {"TAVREL_WORK_DIR", folder.path().string()},
                                       {"TAVREL_SIM_CONFIG", ""}, {"TAVREL_DFU_ID", ""}});
    }

    test::TempDir folder;
    std::string socket, port, loaderDir;
    std::unique_ptr<test::SimProcess> board;
};

TEST_P(EraseReadSim, ReadsThePatternErasesOneSectorAndReadsItBlank) {
    auto dump = Run({"read", "--address", "0x1008", "--length", "8", "--dump"});
    EXPECT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(dump.out, "0x00001000: ******** ******** 0B0A0908 0F0E0D0C \n");
    EXPECT_NE(dump.err.find("Read Success"), std::string::npos) << dump.err;

    auto erase = Run({"erase", "--sectors", "1-1"});
    EXPECT_EQ(erase.exitCode, 0) << erase.err;
    EXPECT_NE(erase.err.find("Erase Success"), std::string::npos) << erase.err;

    // Sector 1 and four bytes on either side of it.
    const auto output = folder / "back.bin";
    auto read = Run({"read", "--address", "FFC", "--length", "1008", "--output", output.string()});
    EXPECT_EQ(read.exitCode, 0) << read.err;
    std::vector<uint8_t> expected = {0xFC, 0xFD, 0xFE, 0xFF};
    expected.insert(expected.end(), 0x1000, 0xFF);
    expected.insert(expected.end(), {0x00, 0x01, 0x02, 0x03});
    EXPECT_EQ(test::ReadFileBytes(output), expected);

    EXPECT_EQ(test::TemporaryFilesIn(folder.path()), std::vector<std::string>{});
    EXPECT_EQ(board->Stop(), 0);
    EXPECT_EQ(board->output().find("violation"), std::string::npos) << board->output();
}

INSTANTIATE_TEST_SUITE_P(Links, EraseReadSim,
                         ::testing::Values(Case{"KR2A600", "UART", 0x100000},  // request boot ROM
                                           Case{"KR2E500", "UART", 0x80000},   // framed boot ROM
                                           Case{"KR2H70X", "USB", 0x100000}),
                         [](const auto& param) {
                             return std::string(param.param.family) + "_" + param.param.interfaceName;
                         });

}  // namespace
}  // namespace tavrel
