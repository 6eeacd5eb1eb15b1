// The example firmware as the cross compiler links it (ELF), as objcopy writes it in Intel HEX and
// in S-records: "tavrel-cli program" gives the same flash from all three over J-Link and UART, and
// "tavrel-cli generate" the same boot image. A refused ELF or S-record file leaves the flash as it
// was and ends the run with 1 and its message.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CliRun.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "SimProcess.h"

namespace tavrel {
namespace {

namespace fs = std::filesystem;

const fs::path kFirmware = fs::path(TAVREL_SOURCE_DIR) / "examples" / "firmware";

struct Case {
    const char* family;
    const char* interfaceName;
    const char* image;  // the firmware built for the family's memory map
};

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

class ImageFormatsSim : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        socket = (folder / "board.sock").string();
        flashFile = folder / "flash.bin";
        board = std::make_unique<test::SimProcess>(std::vector<std::string>{
            "--chip", GetParam().family, "--socket", socket, "--flash-file", flashFile.string()});
        ASSERT_TRUE(board->WaitServing()) << board->output();
        port = test::WordAfter(board->output(), "Serial door: ");
        loaderDir = test::WordAfter(board->output(), "  loader files: ");
    }

    test::ProcessResult Program(const fs::path& image) {
        const Case& c = GetParam();
        std::vector<std::string> argv = tavrel::test::TavrelCliArgs(
            {"program", "--hex", image.string(), "--verify", "--chip", c.family, "--interface", c.interfaceName,
             "--loader-dir", loaderDir, "--crc", "CRC-32-IEEE", "--erase", "all"});
        if (std::string(c.interfaceName) == "UART") argv.insert(argv.end(), {"--port", port});
        return test::RunProcess(argv, {{"TAVREL_SIM_SOCKET", socket}, {"TAVREL_WORK_DIR", folder.path().string()},
                                       {"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH},
                                       {"TAVREL_SIM_CONFIG", ""}, {"TAVREL_DFU_ID", ""}});
    }

    test::TempDir folder;
    fs::path flashFile;
    std::string socket, port, loaderDir;
    std::unique_ptr<test::SimProcess> board;
};

TEST_P(ImageFormatsSim, ElfHexAndSRecordGiveTheSameFlash) {
    const std::string image = GetParam().image;
    std::vector<std::vector<uint8_t>> flashes;
    for (const char* extension : {".elf", ".hex", ".srec"}) {
        const auto run = Program(kFirmware / (image + extension));
        EXPECT_EQ(run.exitCode, 0) << extension << ": " << run.err;
        EXPECT_NE(run.err.find("Verify Sucess"), std::string::npos) << run.err;
        EXPECT_EQ(test::TemporaryFilesIn(folder.path()), std::vector<std::string>{});
        flashes.push_back(test::ReadFileBytes(flashFile));
    }
    ASSERT_FALSE(flashes[0].empty());
    EXPECT_NE(flashes[0], std::vector<uint8_t>(flashes[0].size(), 0xFF));
    EXPECT_EQ(flashes[1], flashes[0]) << "HEX";
    EXPECT_EQ(flashes[2], flashes[0]) << "S-record";

    // Every refused kind leaves that flash as it is.
    const auto elf = test::ReadFileBytes(kFirmware / (image + ".elf"));
    const auto srec = test::ReadFileBytes(kFirmware / (image + ".srec"));
    auto patched = [&](size_t at, std::vector<uint8_t> bytes) {
        auto file = elf;
        std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
        return file;
    };
    auto noLoads = elf;  // every program header's type cleared (PT_NULL)
    const uint32_t phoff = noLoads[28] | noLoads[29] << 8 | noLoads[30] << 16 | uint32_t{noLoads[31]} << 24;
    for (unsigned i = 0; i < noLoads[44]; ++i) std::fill_n(noLoads.begin() + phoff + 32 * i, 4, 0);
    std::string srecText(srec.begin(), srec.end());
    std::string badSum = srecText;  // objcopy ends its lines with CR LF
    const size_t secondLineEnd = badSum.find_last_not_of("\r\n", badSum.find('\n', badSum.find('\n') + 1));
    badSum[secondLineEnd] = badSum[secondLineEnd] == '0' ? '1' : '0';
    const std::string noEnd = srecText.substr(0, srecText.rfind("\nS") + 1);  // without its S7/S8/S9 line
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string message;
        std::string also = "";
    } refused[] = {
        {"64.elf", patched(4, {2}), " is 64-bit: only 32-bit little-endian ARM executables are taken"},
        {"msb.elf", patched(5, {2}), " is big-endian: only 32-bit little-endian ARM executables are taken"},
        {"x86.elf", patched(18, {3, 0}), " is built for another processor than ARM (machine 3): only 32-bit"},
        {"rel.elf", patched(16, {1, 0}), " is a relocatable object, not a linked executable"},
        {"cut.elf", std::vector<uint8_t>(elf.begin(), elf.begin() + 0x1010), " is truncated: its loadable segment 0"},
        {"empty.elf", noLoads, " has no loadable content"},
        {"dyn.elf", patched(16, {3, 0}), " is not an executable (ELF type 3): only 32-bit"},
        {"ident.elf", std::vector<uint8_t>(elf.begin(), elf.begin() + 10),
         " is truncated: it ends inside its identification bytes"},
        {"sum.srec", std::vector<uint8_t>(badSum.begin(), badSum.end()), ", line 2: wrong checksum"},
        {"length.srec", Text("S1070000AABB\n" + srecText), ", line 1: the record length says 7 bytes, the line holds 4"},
        {"type.srec", Text("S4030000FC\n" + srecText), ", line 1: unknown record type S4"},
        {"digit.srec", Text("S1050000ZZ00\n" + srecText), ", line 1: a character that is not a hexadecimal digit"},
        {"line.srec", Text(srecText.substr(0, srecText.find('\n') + 1) + ":00000001FF\n" + srecText),
         ", line 2: not an S-record"},
        {"count.srec", Text(noEnd + "S5030009F3\n" + srecText.substr(noEnd.size())), ", line ",
         ": the count record says 9 data records, the file has "},
        {"after.srec", Text(srecText + srecText), ", line ", ": a record after the end record"},
        {"cut.srec", std::vector<uint8_t>(noEnd.begin(), noEnd.end()), ", line ",
         ": the file ends without an end record (S7, S8 or S9): it may be cut short"},
    };
    for (const auto& bad : refused) {
        const fs::path path = folder / bad.name;
        test::WriteFileBytes(path, bad.bytes);
        const auto run = Program(path);
        EXPECT_EQ(run.exitCode, 1) << bad.name << ": " << run.err;
        EXPECT_NE(run.err.find(path.string() + bad.message), std::string::npos) << bad.name << ": " << run.err;
        EXPECT_NE(run.err.find(bad.also), std::string::npos) << bad.name << ": " << run.err;
        EXPECT_NE(run.err.find("Flash Failed"), std::string::npos) << run.err;
        EXPECT_EQ(test::ReadFileBytes(flashFile), flashes[0]) << bad.name;
        EXPECT_EQ(test::TemporaryFilesIn(folder.path()), std::vector<std::string>{});
    }

    EXPECT_EQ(board->Stop(), 0);
    EXPECT_EQ(board->output().find("violation"), std::string::npos) << board->output();
}

INSTANTIATE_TEST_SUITE_P(Boards, ImageFormatsSim,
                         ::testing::Values(Case{"KR2A600", "JLINK", "kr2a600-app"},
                                           Case{"KR2A600", "UART", "kr2a600-app"},
                                           Case{"KR2E500", "JLINK", "kr2e500-app"},
                                           Case{"KR2E500", "UART", "kr2e500-app"}),
                         [](const auto& param) {
                             return std::string(param.param.family) + "_" + param.param.interfaceName;
                         });

TEST(ImageFormatsGenerate, ElfHexAndSRecordGiveTheSameBootImage) {
    test::TempDir folder;
    const std::string pub = (folder / "pub.der").string(), priv = (folder / "priv.der").string();
    auto keygen = test::RunTavrelCli({"keygen", "--public-key", pub, "--private-key", priv});
    ASSERT_EQ(keygen.exitCode, 0) << keygen.err;
    std::vector<std::vector<uint8_t>> images;
    for (const char* extension : {".elf", ".hex", ".srec"}) {
        const std::string out = (folder / (std::string("boot") + extension + ".bin")).string();
        const auto run = test::RunProcess(tavrel::test::TavrelCliArgs(
            {"generate", "--hex", (kFirmware / (std::string("kr2h70x-app") + extension)).string(), "--output", out,
             "--key", "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F", "--nonce",
             "A0A1A2A3A4A5A6A7A8A9AAAB", "--public-key", pub, "--private-key", priv}));
        EXPECT_EQ(run.exitCode, 0) << extension << ": " << run.err;
        images.push_back(test::ReadFileBytes(out));
    }
    ASSERT_GT(images[0].size(), 718u);
    EXPECT_EQ(images[1], images[0]) << "HEX";
    EXPECT_EQ(images[2], images[0]) << "S-record";
}

}  // namespace
}  // namespace tavrel
