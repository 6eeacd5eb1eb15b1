// "tavrel-cli erase" and "tavrel-cli read" as processes, against the simulated board's probe
// library (TAVREL_JLINK_LIBRARY) with a board described by TAVREL_SIM_CONFIG.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliRun.h"
#include "Recorders.h"
#include "RunProcess.h"

namespace tavrel {
namespace {

class EraseReadCommand : public ::testing::Test {
protected:
    test::ProcessResult Run(const std::string& board, std::vector<std::string> args) {
        for (const std::string& option : test::SimLoaderOptions()) args.push_back(option);
        return test::RunTavrelCli(args, test::SimBoardEnvironment(board, work.path().string()));
    }
    void ExpectNoTemporaryFiles() {
        EXPECT_EQ(test::TemporaryFilesIn(work.path()), std::vector<std::string>{});
    }
    test::TempDir work;
};

TEST_F(EraseReadCommand, DumpAndEraseOverJlink) {
    auto dump = Run("chip=KR2A600", {"read", "--chip", "KR2A600", "--address", "0x1008", "--length", "8", "--dump"});
    EXPECT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(dump.out, "0x00001000: ******** ******** FFFFFFFF FFFFFFFF \n");
    EXPECT_NE(dump.err.find("Read Success"), std::string::npos) << dump.err;

    auto erase = Run("chip=KR2E500", {"erase", "--chip", "KR2E500", "--blocks", "1,2,3,7"});
    EXPECT_EQ(erase.exitCode, 0) << erase.err;
    EXPECT_NE(erase.err.find("Erase Success"), std::string::npos) << erase.err;
    ExpectNoTemporaryFiles();
}

TEST_F(EraseReadCommand, RefusedInputAndFailuresExitNonZero) {
    auto sectors = Run("chip=KR2A600", {"erase", "--chip", "KR2A600", "--sectors", "0-256"});
    EXPECT_EQ(sectors.exitCode, 1);
    EXPECT_NE(sectors.err.find(" Invalid sector number"), std::string::npos) << sectors.err;
    auto display = Run("chip=KR2A600", {"read", "--chip", "KR2A600", "--address", "0", "--length", "C84", "--dump"});
    EXPECT_EQ(display.exitCode, 1);
    EXPECT_NE(display.err.find("Invalid BYTE Number ! "), std::string::npos) << display.err;

    const auto output = work / "out.bin";
    auto failed = Run("chip=KR2E500",  // another chip answers
                      {"read", "--chip", "KR2A600", "--address", "0", "--length", "100", "--output", output.string()});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.err.find("Read Failed"), std::string::npos) << failed.err;
    EXPECT_FALSE(std::filesystem::exists(output));
    ExpectNoTemporaryFiles();
}

}  // namespace
}  // namespace tavrel
