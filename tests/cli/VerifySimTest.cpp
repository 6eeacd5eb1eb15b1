// "tavrel-cli verify" against a `tavrel-cli sim` board in its own process, on every route and
// every program page: a board just programmed verifies with the same options, and one byte
// flipped in the flash (boot header, first and last image byte) is found and named.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CliRun.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "SimProcess.h"

namespace tavrel {
namespace {

struct Case {
    const char* family;
    const char* interfaceName;
    bool hex;                       // a HEX image behind its boot header; else a bin at 0x3000
    std::vector<uint32_t> flips;    // flash offsets to flip, one at a time
    std::vector<std::string> extra; // board options
};

constexpr size_t kImageSize = 0x1234;

class VerifySim : public ::testing::TestWithParam<Case> {
protected:
    void StartBoard() {
        const Case& c = GetParam();
        socket = (folder / "board.sock").string();
        std::vector<std::string> options = {"--chip", c.family, "--socket", socket, "--flash-file",
                                            (folder / "flash.bin").string()};
        options.insert(options.end(), c.extra.begin(), c.extra.end());
        board = std::make_unique<test::SimProcess>(options);
        ASSERT_TRUE(board->WaitServing()) << board->output();
        port = test::WordAfter(board->output(), "Serial door: ");
        loaderDir = test::WordAfter(board->output(), "  loader files: ");
    }
    void StopBoard() {
        EXPECT_EQ(board->Stop(), 0);
        EXPECT_EQ(board->output().find("violation"), std::string::npos) << board->output();
        board.reset();
    }

    test::ProcessResult Run(const std::string& command) {
        const Case& c = GetParam();
        std::vector<std::string> argv = tavrel::test::TavrelCliArgs(
            {command, "--chip", c.family, "--interface", c.interfaceName, "--loader-dir", loaderDir});
        if (std::string(c.interfaceName) == "UART") argv.insert(argv.end(), {"--port", port});
        if (c.hex) {
            argv.insert(argv.end(), {"--hex", (folder / "app.hex").string()});
            if (std::string(c.family) != "KR2A600") argv.insert(argv.end(), {"--crc", "CRC-32-IEEE"});
        } else {
            argv.insert(argv.end(), {"--bin", (folder / "app.bin").string(), "--address", "3000", "--erase", "sectors"});
        }
        return test::RunProcess(argv, {{"TAVREL_SIM_SOCKET", socket}, {"TAVREL_WORK_DIR", folder.path().string()},
                                       {"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH},
                                       {"TAVREL_SIM_CONFIG", ""}, {"TAVREL_DFU_ID", ""}});
    }

    test::TempDir folder;
    std::string socket, port, loaderDir;
    std::unique_ptr<test::SimProcess> board;
};

TEST_P(VerifySim, EqualAfterProgramAndEachFlippedByteFound) {
    const Case& c = GetParam();
    const auto image = test::PatternBytes(kImageSize, 7);
    const uint32_t base = std::string(c.family) == "KR2A600" ? 0x20000000 : 0x100000;
    test::WriteTextFile(folder / "app.hex", test::HexImage(base, image) + test::HexEnd() + "\n");
    test::WriteFileBytes(folder / "app.bin", image);

    StartBoard();
    // Nothing programmed yet: the erased flash differs.
    auto blank = Run("verify");
    EXPECT_EQ(blank.exitCode, 1) << blank.err;
    EXPECT_NE(blank.out.find("bytes differ; the first at address"), std::string::npos) << blank.out;

    auto program = Run("program");
    ASSERT_EQ(program.exitCode, 0) << program.err;
    auto same = Run("verify");
    EXPECT_EQ(same.exitCode, 0) << same.err;
    EXPECT_NE(same.out.find("verify: the flash holds the image ("), std::string::npos) << same.out;
    EXPECT_NE(same.err.find("Verify Sucess"), std::string::npos) << same.err;
    StopBoard();

    for (uint32_t offset : c.flips) {
        SCOPED_TRACE(offset);
        auto flash = test::ReadFileBytes(folder / "flash.bin");
        ASSERT_GT(flash.size(), offset);
        const uint8_t original = flash[offset];
        flash[offset] ^= 0x01;
        test::WriteFileBytes(folder / "flash.bin", flash);
        StartBoard();
        auto differs = Run("verify");
        EXPECT_EQ(differs.exitCode, 1) << differs.err;
        char expected[120];
        std::snprintf(expected, sizeof expected,
                      "bytes differ; the first at address 0x%08X (flash offset 0x%X): the image has 0x%02X, the "
                      "flash 0x%02X\n",
                      offset, offset, original, original ^ 0x01);
        EXPECT_NE(differs.out.find(std::string("verify: 1 of ")), std::string::npos) << differs.out;
        EXPECT_NE(differs.out.find(expected), std::string::npos) << differs.out;
        EXPECT_NE(differs.err.find("Verify Fail"), std::string::npos) << differs.err;
        StopBoard();
        flash[offset] = original;
        test::WriteFileBytes(folder / "flash.bin", flash);
    }
    // verify wrote nothing: the flash is as program left it.
    EXPECT_EQ(test::TemporaryFilesIn(folder.path()), std::vector<std::string>{});
}

// KR2A600: the header at 0, the image at 0x1000. KR2E500 group: the header's 32 bytes, then the
// image. KR2H70X: a boot image written as it is at 0x3000.
const std::vector<uint32_t> kKr2a600Flips = {0, 0x17, 0x1000, 0x1000 + kImageSize - 1};
const std::vector<uint32_t> kEx500Flips = {0, 0x1F, 32, 32 + kImageSize - 1};
const std::vector<uint32_t> kBinFlips = {0x3000, 0x3000 + kImageSize - 1};

INSTANTIATE_TEST_SUITE_P(
    Routes, VerifySim,
    ::testing::Values(Case{"KR2A600", "JLINK", true, kKr2a600Flips, {}},
                      Case{"KR2A600", "UART", true, kKr2a600Flips, {}},
                      Case{"KR2E500", "JLINK", true, kEx500Flips, {}},
                      Case{"KR2E500", "UART", true, kEx500Flips, {}},
                      Case{"KR2H70X", "JLINK", false, kBinFlips, {}},
                      Case{"KR2H70X", "UART", false, kBinFlips, {}},
                      Case{"KR2H70X", "USB", false, kBinFlips, {}}),
    [](const auto& param) { return std::string(param.param.family) + "_" + param.param.interfaceName; });

}  // namespace
}  // namespace tavrel
