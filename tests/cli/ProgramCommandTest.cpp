// "tavrel-cli program" as a process, against the simulated board's probe library
// (TAVREL_JLINK_LIBRARY) with a board described by TAVREL_SIM_CONFIG whose flash is kept in a file.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliRun.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "RunProcess.h"

namespace tavrel {
namespace {

class ProgramCommand : public ::testing::Test {
protected:
    test::ProcessResult Run(const std::string& board, std::vector<std::string> args) {
        args.insert(args.begin(), "program");
        for (const std::string& option : test::SimLoaderOptions()) args.push_back(option);
        return test::RunTavrelCli(args, test::SimBoardEnvironment(board + " flash-file=" + flash.string(), work.path().string()));
    }
    std::string HexFile() {
        const auto path = work / "app.hex";
        test::WriteTextFile(path, test::HexImage(0x20000000, code) + test::HexEnd() + "\n");
        return path.string();
    }
    std::vector<uint8_t> Flash(size_t offset, size_t count) {
        const auto bytes = test::ReadFileBytes(flash);
        if (bytes.size() < offset + count) return {};
        return {bytes.begin() + static_cast<long>(offset), bytes.begin() + static_cast<long>(offset + count)};
    }
    void ExpectNoTemporaryFiles() {
        EXPECT_EQ(test::TemporaryFilesIn(work.path()), std::vector<std::string>{});
    }

    test::TempDir work;
    std::filesystem::path flash = work / "flash.bin";
    std::vector<uint8_t> code = test::PatternBytes(0x2345, 3);
};

TEST_F(ProgramCommand, HexWithVerifyOverJlink) {
    auto run = Run("chip=KR2A600", {"--chip", "KR2A600", "--hex", HexFile(), "--verify", "--erase", "sectors",
                                    "--clock-source", "System:200MHz,Reference:XTAL32M", "--qspi-mode", "3"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("Verify Sucess"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Flash Success"), std::string::npos) << run.err;
    // "None": no security word; ClockWord of clock source 0; then the one descriptor.
    EXPECT_EQ(Flash(0, 16), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFC, 0xFF,
                                                  0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Flash(0x10 + 20, 8), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x7F, 0xC0, 0xF8, 0xFF, 0xFF}));
    EXPECT_EQ(Flash(0x1000, code.size()), code);
    ExpectNoTemporaryFiles();
}

TEST_F(ProgramCommand, Kr2h70xBootImageWithVerifyOverJlink) {
    const std::string board = "chip=KR2H70X flash-type=W25Q20CL";
    const auto image = work / "boot.bin";
    test::WriteFileBytes(image, code);
    auto run = Run(board, {"--chip", "KR2H70X", "--flash-type", "W25Q20CL", "--bin", image.string(), "--address",
                           "0x3000", "--erase", "blocks", "--verify"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("Verify Sucess"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Flash Success"), std::string::npos) << run.err;
    EXPECT_EQ(Flash(0x3000, code.size()), code);
    ExpectNoTemporaryFiles();

    auto beyond = Run(board, {"--chip", "KR2H70X", "--flash-type", "W25Q20CL", "--bin", image.string(), "--address",
                              "40000"});
    EXPECT_EQ(beyond.exitCode, 1);
    EXPECT_NE(beyond.err.find("Invalid flash address ! \n"), std::string::npos) << beyond.err;
    EXPECT_EQ(beyond.err.find("Flash "), std::string::npos) << beyond.err;  // no run
}

TEST_F(ProgramCommand, RefusedInputExitsNonZero) {
    const std::string hex = HexFile();
    auto password = Run("chip=KR2A600", {"--chip", "KR2A600", "--hex", hex, "--secure-password", "1234"});
    EXPECT_EQ(password.exitCode, 1);
    EXPECT_NE(password.err.find(" Pass word should be 8 bytes, Please check data"), std::string::npos) << password.err;
    EXPECT_EQ(password.err.find("Flash "), std::string::npos) << password.err;  // no run

    auto address = Run("chip=KR2A600", {"--chip", "KR2A600", "--bin", hex, "--address", "0x100000"});
    EXPECT_EQ(address.exitCode, 1);
    EXPECT_NE(address.err.find("Invalid flash address ! \n"), std::string::npos) << address.err;

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--chip", "KR2A600", "--hex", hex, "--crc", "5"},
             {"--chip", "KR2A600", "--bin", hex, "--address", "0", "--crc", "0"},  // Bin has no header
             {"--chip", "KR2A600", "--hex", hex, "--bin", hex},
             {"--chip", "KR2A600", "--hex", hex, "--erase", "some"}}) {
        auto usage = Run("chip=KR2A600", args);
        EXPECT_EQ(usage.exitCode, 2) << ::testing::PrintToString(args) << usage.err;
    }
    ExpectNoTemporaryFiles();
}

TEST_F(ProgramCommand, AFailedRunExitsNonZeroAndLeavesNoTemporaryFile) {
    auto run = Run("chip=KR2A600 corrupt-write=3", {"--chip", "KR2A600", "--hex", HexFile(), "--verify"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Verify Fail"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Flash Failed"), std::string::npos) << run.err;
    ExpectNoTemporaryFiles();
}

}  // namespace
}  // namespace tavrel

namespace tavrel {
namespace {

// A job saved from the window (File > Save) runs through --settings, with options on top; the
// flash comes out as the same job given as options.
TEST_F(ProgramCommand, SettingsFileRunsTheSavedJob) {
    const std::string hex = HexFile();
    const auto job = work / "job.txt";
    test::WriteTextFile(job, "ChipName:KR2A600\r\nInterfaceType:JLINK\r\nJLINK Speed:4000\r\n"
                             "Flash Location:External\r\nFlash Interface:QSPI\r\nFlash Type:\r\nOption:Flash\r\n"
                             "File Type:Hex\r\nQSPI:Fast read quad out\r\nInit Mem:Normal\r\nFinal Mem:Normal\r\n"
                             "CRC:CRC-16-IBM\r\nClock Source:System:RC32M\r\nFlash Address:\r\n"
                             "Erase:Erase Sector\r\nVerify:false\r\nFile Path:" + hex + "\r\n");
    auto saved = Run("chip=KR2A600", {"--settings", job.string(), "--verify"});
    EXPECT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_NE(saved.err.find("Verify Sucess"), std::string::npos) << saved.err;
    const auto fromSettings = test::ReadFileBytes(flash);

    std::filesystem::remove(flash);
    auto given = Run("chip=KR2A600", {"--chip", "KR2A600", "--hex", hex, "--qspi-mode", "3", "--crc", "1", "--erase",
                                      "sectors", "--speed", "4000"});
    EXPECT_EQ(given.exitCode, 0) << given.err;
    EXPECT_EQ(test::ReadFileBytes(flash), fromSettings);
    ExpectNoTemporaryFiles();

    // A job of another operation, a file that does not load, a missing file.
    test::WriteTextFile(work / "erase.txt", "ChipName:KR2A600\r\nInterfaceType:JLINK\r\nOption:Erase\r\n");
    auto other = Run("chip=KR2A600", {"--settings", (work / "erase.txt").string()});
    EXPECT_EQ(other.exitCode, 2) << other.err;
    EXPECT_NE(other.err.find("holds an erase job"), std::string::npos) << other.err;
    test::WriteTextFile(work / "bad.txt", "ChipName:KR2E550\r\n");
    auto bad = Run("chip=KR2A600", {"--settings", (work / "bad.txt").string()});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("Load setting is failed!"), std::string::npos) << bad.err;
    auto lost = Run("chip=KR2A600", {"--settings", (work / "none.txt").string()});
    EXPECT_EQ(lost.exitCode, 1);
    EXPECT_NE(lost.err.find("Load File is Lost!"), std::string::npos) << lost.err;
}

}  // namespace
}  // namespace tavrel
