// "tavrel-cli program" for the KR2E500 group over J-Link and over the framed boot ROM's serial
// line, against a `tavrel-cli sim` board in its own process: a HEX image behind its boot header, a
// plain bin and an advanced bin, each verified and read back with "tavrel-cli read".
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
    uint32_t sramBase;     // where the family's HEX segments may lie
    uint32_t configB;      // BootConfigB at 115200 baud, "1 Sec", "CRC-32-IEEE"
};

uint32_t Word(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

class EX500ProgramSim : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        socket = (folder / "board.sock").string();
        board = std::make_unique<test::SimProcess>(std::vector<std::string>{
            "--chip", GetParam().family, "--socket", socket, "--flash-file", (folder / "flash.bin").string()});
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
                                       {"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH},
                                       {"TAVREL_SIM_CONFIG", ""}, {"TAVREL_DFU_ID", ""}});
    }

    // What the flash holds from offset on, read back through the command line.
    std::vector<uint8_t> ReadBack(uint32_t offset, uint32_t length) {
        const auto output = folder / "back.bin";
        auto read = Run({"read", "--address", Hex(offset), "--length", Hex(length), "--output", output.string()});
        EXPECT_EQ(read.exitCode, 0) << read.err;
        return test::ReadFileBytes(output);
    }

    void ExpectProgrammed(const test::ProcessResult& run) {
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.err.find("Verify Sucess"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Flash Success"), std::string::npos) << run.err;
        EXPECT_EQ(test::TemporaryFilesIn(folder.path()), std::vector<std::string>{});
    }

    test::TempDir folder;
    std::string socket, port, loaderDir;
    std::unique_ptr<test::SimProcess> board;
};

TEST_P(EX500ProgramSim, HexPlainBinAndAdvancedBin) {
    const Case& c = GetParam();
    const auto low = test::PatternBytes(0x1234, 1), high = test::PatternBytes(0x20, 2);
    const auto hex = folder / "app.hex";
    test::WriteTextFile(hex, test::HexImage(c.sramBase, low) + test::HexImage(c.sramBase + 0x1300, high) +
                                 test::HexStartLinear(c.sramBase + 0x101) + "\n" + test::HexEnd() + "\n");
    ExpectProgrammed(Run({"program", "--hex", hex.string(), "--crc", "CRC-32-IEEE", "--verify"}));

    // The header, the first segment at 32, 0xFF in the gap, the second segment at 32 + 0x1300.
    const auto flash = ReadBack(0, 32 + 0x1320);
    ASSERT_EQ(flash.size(), 32u + 0x1320);
    EXPECT_NE(Word(flash, 0), 0u);  // the CRC
    EXPECT_EQ(Word(flash, 8), 0x1320u);
    EXPECT_EQ(Word(flash, 12), c.configB);
    EXPECT_EQ(Word(flash, 16), 0xFFFFFFFFu);
    EXPECT_EQ(Word(flash, 20), c.sramBase);
    EXPECT_EQ(Word(flash, 24), c.sramBase + 0x101);
    EXPECT_EQ(Word(flash, 28), 0x544B4E5Au);
    EXPECT_EQ(std::vector<uint8_t>(flash.begin() + 32, flash.begin() + 32 + 0x1234), low);
    EXPECT_EQ(std::vector<uint8_t>(flash.begin() + 32 + 0x1234, flash.begin() + 32 + 0x1300),
              std::vector<uint8_t>(0x1300 - 0x1234, 0xFF));
    EXPECT_EQ(std::vector<uint8_t>(flash.begin() + 32 + 0x1300, flash.end()), high);

    // A plain bin behind the header, which survives the erase of all the flash.
    const auto data = test::PatternBytes(0x900, 5);
    const auto bin = folder / "data.bin";
    test::WriteFileBytes(bin, data);
    ExpectProgrammed(Run({"program", "--bin", bin.string(), "--address", "0x2000", "--verify"}));
    EXPECT_EQ(ReadBack(0x2000, 0x900), data);
    EXPECT_EQ(ReadBack(0, 32), std::vector<uint8_t>(flash.begin(), flash.begin() + 32));

    // KR2E550 and KR2E700 offer no advanced bin.
    if (std::string(c.family) != "KR2E550" && std::string(c.family) != "KR2E700") {
        test::WriteTextFile(folder / "data.cfg", "#OFFSET_BIN:0;ADDR_FLASH:0;DATA_LEN:16;\n"
                                                 "#OFFSET_BIN:10;ADDR_FLASH:10;DATA_LEN:16;\n");
        ExpectProgrammed(Run({"program", "--bin", bin.string(), "--advanced", "--erase", "blocks", "--verify"}));
        EXPECT_EQ(ReadBack(0, 32), std::vector<uint8_t>(data.begin(), data.begin() + 32));
    }

    EXPECT_EQ(board->Stop(), 0);
    EXPECT_EQ(board->output().find("violation"), std::string::npos) << board->output();
}

// Divisors at 115200 baud: 17 (KR2E500, KR2A500), 5 (KR2E550), 20 (KR2G700), 8 (KR2E700); CRC
// index 3, delay code B 1.
constexpr uint32_t ConfigB(uint32_t divisor) {
    return (~divisor & 0xFFFF) << 16 | 3u | 2u << 3 | 7u << 8 | 7u << 11 | 1u << 14;
}

INSTANTIATE_TEST_SUITE_P(Families, EX500ProgramSim,
                         ::testing::Values(Case{"KR2E500", "JLINK", 0x100000, ConfigB(17)},
                                           Case{"KR2E500", "UART", 0x100000, ConfigB(17)},
                                           Case{"KR2A500", "UART", 0x20100000, ConfigB(17)},
                                           Case{"KR2E550", "UART", 0x20000000, ConfigB(5)},
                                           Case{"KR2G700", "JLINK", 0x100000, ConfigB(20)},
                                           Case{"KR2E700", "UART", 0x20000000, ConfigB(8)}),
                         [](const auto& param) {
                             return std::string(param.param.family) + "_" + param.param.interfaceName;
                         });

TEST(EX500ProgramOptions, RefusedCombinationsAreUsageErrors) {
    test::TempDir folder;
    const auto bin = folder / "app.bin";
    test::WriteFileBytes(bin, test::PatternBytes(16));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--chip", "KR2E500", "--bin", bin.string()},                                     // no address
             {"--chip", "KR2E500", "--bin", bin.string(), "--address", "20", "--advanced"},  // both
             {"--chip", "KR2E550", "--bin", bin.string(), "--advanced"},                     // none offered
             {"--chip", "KR2E700", "--bin", bin.string(), "--advanced"},
             {"--chip", "KR2E500", "--bin", bin.string(), "--advanced", "--erase", "sectors"},
             {"--chip", "KR2E500", "--bin", bin.string(), "--address", "20", "--boot-delay", "1"},
             {"--chip", "KR2E500", "--hex", bin.string(), "--uart-baud", "300000"},
             {"--chip", "KR2E500", "--hex", bin.string(), "--qspi-mode", "1"},
             {"--chip", "KR2A600", "--hex", bin.string(), "--boot-delay", "1"},
             {"--chip", "KR2H70X", "--bin", bin.string(), "--address", "0", "--crc", "0"}}) {
        auto run = test::RunProcess(
            [&] {
                std::vector<std::string> argv = tavrel::test::TavrelCliArgs({"program"});
                argv.insert(argv.end(), args.begin(), args.end());
                return argv;
            }(),
            {{"TAVREL_SIM_CONFIG", "chip=KR2E500"},
             {"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH},
             {"TAVREL_WORK_DIR", folder.path().string()}});
        EXPECT_EQ(run.exitCode, 2) << ::testing::PrintToString(args) << run.err;
    }

    // The page's own refusals: the header's offsets are protected unless asked otherwise.
    auto protectedHeader = test::RunProcess(
        tavrel::test::TavrelCliArgs({"program", "--chip", "KR2E500", "--bin", bin.string(), "--address", "1F"}),
        {{"TAVREL_SIM_CONFIG", "chip=KR2E500"},
         {"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH},
         {"TAVREL_WORK_DIR", folder.path().string()}});
    EXPECT_EQ(protectedHeader.exitCode, 1);
    EXPECT_NE(protectedHeader.err.find("0x0-0x1F is protected for boot info! \n"), std::string::npos)
        << protectedHeader.err;
}

}  // namespace
}  // namespace tavrel
