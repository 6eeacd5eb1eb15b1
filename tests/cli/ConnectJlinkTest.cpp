// "tavrel-cli connect --interface JLINK" as a process, against the simulated board's probe
// library named by TAVREL_JLINK_LIBRARY and a board described by TAVREL_SIM_CONFIG.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "CliRun.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "SimProcess.h"
#include "model/Catalogue.h"

using namespace tavrel;

namespace {

class ConnectJlink : public ::testing::Test {
protected:
    test::ProcessResult Connect(const std::string& board, std::vector<std::string> options) {
        std::vector<std::string> argv = tavrel::test::TavrelCliArgs(
            {"connect", "--interface", "JLINK", "--loader-dir", std::string(TAVREL_SOURCE_DIR) + "/src/sim/config"});
        argv.insert(argv.end(), options.begin(), options.end());
        return test::RunProcess(argv, {{"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH},
                                       {"TAVREL_SIM_CONFIG", board},
                                       {"TAVREL_WORK_DIR", work.path().string()}});
    }
    // Nothing of the run is left in the work folder.
    void ExpectNoTemporaryFiles() {
        EXPECT_EQ(test::TemporaryFilesIn(work.path()), std::vector<std::string>{});
    }
    test::TempDir work;
};

}  // namespace

TEST_F(ConnectJlink, EveryFamilyConnects) {
    for (auto family : kFamilies) {
        const std::string chip(family);
        SCOPED_TRACE(chip);
        const auto result = Connect("chip=" + chip, {"--chip", chip});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.out.find("chip: " + chip + "\n"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("interface: JLINK"), std::string::npos) << result.out;
        if (UsesFlashType(chip)) {
            EXPECT_NE(result.out.find("flash type: " + FlashTypeChoices(chip)->front()), std::string::npos) << result.out;
        }
        ExpectNoTemporaryFiles();
    }
}

TEST_F(ConnectJlink, ChosenFlashTypeAndSpeed) {
    const auto result = Connect("chip=KR2G700 flash-type=W25Q32FW", {"--chip", "KR2G700", "--flash-type", "W25Q32FW",
                                                                       "--speed", "1000"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("flash type: W25Q32FW"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("1000 kHz"), std::string::npos) << result.out;
}

TEST_F(ConnectJlink, FailuresPrintTheirMessage) {
    struct Case {
        const char* board;
        std::vector<std::string> options;
        const char* message;
    };
    const Case cases[] = {
        {"chip=KR2E500", {"--chip", "KR2A600"}, "Selected chip type doesn't match with the connected chip "},
        {"chip=KR2H70X flash-type=W25Q16BV/DV", {"--chip", "KR2H70X"},
         "Selected flash type is not matched with flash type in the chip!"},
        {"chip=KR2A600 no-probe", {"--chip", "KR2A600"}, "There is no JLink connected"},
        {"chip=KR2A600 no-ready", {"--chip", "KR2A600", "--loader-dir", "/nonexistent"}, "MCU Jlink Load file lost"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.board);
        const auto result = Connect(c.board, c.options);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.out.find("chip:"), std::string::npos) << result.out;
        ExpectNoTemporaryFiles();
    }
}

TEST_F(ConnectJlink, BadOptionsAreRefusedNamingTheOptionBeforeAnyProbeAccess) {
    struct Case {
        std::vector<std::string> options;
        const char* names;
    };
    const Case cases[] = {
        {{}, "--chip is required"},
        {{"--chip"}, "--chip"},
        {{"--chip", "KR2X999"}, "--chip: unknown chip family 'KR2X999'"},
        {{"--chip", "KR2A600", "--speed", "fast"}, "--speed: 'fast'"},
        {{"--chip", "KR2A600", "--speed", "0"}, "--speed: '0'"},
        {{"--chip", "KR2E550", "--flash-type", "W25Q32FV"}, "--flash-type: 'W25Q32FV' is not offered for KR2E550"},
        {{"--chip", "KR2A600", "--flash-type", "W25Q32FV"}, "--flash-type: KR2A600 has no flash type to choose"},
        {{"--chip", "KR2A600", "--bogus"}, "--bogus"},
        {{"--chip", "KR2A600", "--port", "/dev/ttyS0"}, "--port does not go with --interface JLINK"},
        {{"--chip", "KR2A600", "--interface", "SPI"}, "--interface: 'SPI' is not offered for KR2A600 (JLINK, UART)"},
        {{"--chip", "KR2A600", "--speed", "3000"}, "--speed: '3000' is not a J-Link speed"},
    };
    for (const Case& c : cases) {
        const auto result = Connect("chip=KR2A600", c.options);
        EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(c.options) << result.err;
        EXPECT_NE(result.err.find(c.names), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("tavrel-cli connect --help"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("Connect..."), std::string::npos) << result.err;
    }
}

TEST_F(ConnectJlink, MissingProbeLibraryIsExplained) {
    const auto result = test::RunTavrelCli({"connect", "--chip", "KR2A600", "--interface", "JLINK",
                                          "--loader-dir", std::string(TAVREL_SOURCE_DIR) + "/src/sim/config"},
                                         {{"TAVREL_JLINK_LIBRARY", "/nonexistent/libjlinkarm.so"},
                                          {"TAVREL_WORK_DIR", work.path().string()}});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("/nonexistent/libjlinkarm.so"), std::string::npos) << result.err;
    ExpectNoTemporaryFiles();
}

TEST_F(ConnectJlink, BoardInAnotherProcessSeesNoViolation) {
    for (auto family : kFamilies) {
        const std::string chip(family);
        SCOPED_TRACE(chip);
        test::TempDir folder;
        const std::string socket = (folder / "board.sock").string();
        test::SimProcess board({"--chip", chip, "--socket", socket});
        ASSERT_TRUE(board.WaitServing()) << board.output();
        const auto result = test::RunProcess(
            tavrel::test::TavrelCliArgs({"connect", "--chip", chip, "--interface", "JLINK", "--loader-dir",
                                         std::string(TAVREL_SOURCE_DIR) + "/src/sim/config"}),
            {{"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH},
             {"TAVREL_SIM_SOCKET", socket},
             {"TAVREL_WORK_DIR", work.path().string()}});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        board.Stop();
        EXPECT_EQ(board.output().find("violation"), std::string::npos) << board.output();
    }
}
