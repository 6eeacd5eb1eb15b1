// "tavrel-cli connect --interface JLINK" as a process, against the simulated board's probe
// library named by TAVREL_JLINK_LIBRARY and a board described by TAVREL_SIM_CONFIG.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "Recorders.h"
#include "RunProcess.h"
#include "model/Catalogue.h"

using namespace tavrel;

namespace {

class ConnectJlink : public ::testing::Test {
protected:
    test::ProcessResult Connect(const std::string& board, std::vector<std::string> options) {
        std::vector<std::string> argv = {TAVREL_CLI_PATH, "connect", "--interface", "JLINK", "--loader-dir",
                                         std::string(TAVREL_SOURCE_DIR) + "/src/sim/config"};
        argv.insert(argv.end(), options.begin(), options.end());
        return test::RunProcess(argv, {{"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH},
                                       {"TAVREL_SIM_CONFIG", board},
                                       {"TAVREL_WORK_DIR", work.path().string()}});
    }
    // Nothing of the run is left in the work folder.
    void ExpectNoTemporaryFiles() {
        for (const auto& entry : std::filesystem::directory_iterator(work.path()))
            EXPECT_EQ(entry.path().string().find("_temp.bin"), std::string::npos) << entry.path();
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

TEST_F(ConnectJlink, BadOptionsAreRefusedBeforeAnyProbeAccess) {
    for (const auto& options : std::vector<std::vector<std::string>>{
             {}, {"--chip", "KR2X999"}, {"--chip", "KR2A600", "--speed", "fast"},
             {"--chip", "KR2E550", "--flash-type", "W25Q32FV"}, {"--chip", "KR2A600", "--bogus"}}) {
        const auto result = Connect("chip=KR2A600", options);
        EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(options) << result.err;
        EXPECT_NE(result.err.find("Usage:"), std::string::npos) << result.err;
    }
}

TEST_F(ConnectJlink, MissingProbeLibraryIsExplained) {
    const auto result = test::RunProcess({TAVREL_CLI_PATH, "connect", "--chip", "KR2A600", "--interface", "JLINK",
                                          "--loader-dir", std::string(TAVREL_SOURCE_DIR) + "/src/sim/config"},
                                         {{"TAVREL_JLINK_LIBRARY", "/nonexistent/libjlinkarm.so"},
                                          {"TAVREL_WORK_DIR", work.path().string()}});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("/nonexistent/libjlinkarm.so"), std::string::npos) << result.err;
    ExpectNoTemporaryFiles();
}

namespace {

// A `tavrel-cli sim` board running beside the test; stopped with SIGTERM, after which its
// stderr lists any protocol violation it recorded.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& options) {
        const std::string outPath = (folder_ / "out").string();
        const std::string errPath = (folder_ / "err").string();
        std::vector<std::string> argv = {TAVREL_CLI_PATH, "sim"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {"--socket", socket()});
        pid_ = fork();
        if (pid_ == 0) {
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || err < 0) _exit(127);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char*> args;
            for (auto& arg : argv) args.push_back(arg.data());
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        // Ready once it has said how to reach it.
        for (int i = 0; i < 500 && Out().find("Press Ctrl-C") == std::string::npos; ++i) usleep(10000);
    }
    ~SimProcess() { Stop(); }

    std::string socket() const { return (folder_ / "board.sock").string(); }
    std::string Out() const { return Slurp(folder_ / "out"); }
    // Stops the board; its stderr then.
    std::string Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            pid_ = -1;
        }
        return Slurp(folder_ / "err");
    }

private:
    static std::string Slurp(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    test::TempDir folder_;
    pid_t pid_ = -1;
};

}  // namespace

TEST_F(ConnectJlink, BoardInAnotherProcessSeesNoViolation) {
    for (auto family : kFamilies) {
        const std::string chip(family);
        SCOPED_TRACE(chip);
        SimProcess board({"--chip", chip});
        ASSERT_NE(board.Out().find("Press Ctrl-C"), std::string::npos) << board.Stop();
        const auto result = test::RunProcess(
            {TAVREL_CLI_PATH, "connect", "--chip", chip, "--interface", "JLINK", "--loader-dir",
             std::string(TAVREL_SOURCE_DIR) + "/src/sim/config"},
            {{"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH}, {"TAVREL_SIM_SOCKET", board.socket()},
             {"TAVREL_WORK_DIR", work.path().string()}});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const std::string boardErrors = board.Stop();
        EXPECT_EQ(boardErrors.find("violation"), std::string::npos) << boardErrors;
    }
}
