// Ctrl-C, SIGTERM and SIGHUP during a run of tavrel-cli: the run fails at the link's next wait, removes its
// temporary files, closes the link and exits with 128 + the signal's number. The boards' loaders
// never get ready, so without the signal each run would wait 20 s (UART) or 90 s (J-Link).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BackgroundProcess.h"
#include "CliRun.h"
#include "Recorders.h"
#include "SimProcess.h"
#include "sim/Board.h"
#include "sim/LoaderImage.h"
#include "sim/SerialDoor.h"
#include "sim/SimConfig.h"

namespace tavrel {
namespace {

using Clock = std::chrono::steady_clock;

struct Case {
    const char* name;
    std::vector<std::string> args;  // the command and its own options
    int signal;
    const char* interrupted;  // what the command says last
};

std::vector<Case> Cases(const std::filesystem::path& folder) {
    const std::string hex = std::string(TAVREL_SOURCE_DIR) + "/examples/kr2a600-app.hex";
    const std::string output = (folder / "read.bin").string();
    return {
        {"read", {"read", "--address", "0", "--length", "1000", "--output", output}, SIGINT,
         "tavrel-cli read: interrupted"},
        {"program", {"program", "--hex", hex, "--verify"}, SIGTERM, "tavrel-cli program: interrupted"},
        {"erase", {"erase", "--all"}, SIGINT, "tavrel-cli erase: interrupted"},
        // A hang-up of the terminal the run was started from.
        {"read (hang-up)", {"read", "--address", "0", "--length", "1000", "--output", output}, SIGHUP,
         "tavrel-cli read: interrupted"},
        {"connect", {"connect"}, SIGTERM, "tavrel-cli connect: interrupted"},
    };
}

// Waits (at most 10 s) until the run has made its loader's temporary file, so the signal comes
// while the run has something to clean up.
bool WaitForTemporaryFile(const std::filesystem::path& folder) {
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (test::TemporaryFilesIn(folder).empty()) {
        if (Clock::now() > end) return false;
        usleep(10000);
    }
    return true;
}

// Sends the signal and checks how the run ended: soon, with the signal's status and its message,
// leaving no temporary file and no output file. started: a text the run prints once it has
// reached the board (empty: none awaited).
void InterruptAndCheck(test::BackgroundProcess& run, const Case& c, const std::filesystem::path& folder,
                       const std::string& started = {}) {
    if (!started.empty()) {
        ASSERT_TRUE(run.ReadUntil(started)) << run.output();
    }
    ASSERT_TRUE(WaitForTemporaryFile(folder)) << run.output();
    const auto sent = Clock::now();
    run.Signal(c.signal);
    const int status = run.Wait();
    // A generous bound for a loaded machine; the wait it cuts short lasts 20 s or more.
    EXPECT_LT(Clock::now() - sent, std::chrono::seconds(5));
    EXPECT_EQ(status, 128 + c.signal) << run.output();
    EXPECT_NE(run.output().find(c.interrupted), std::string::npos) << run.output();
    // One line says so; no failure message of the steps the interruption cut short comes first.
    EXPECT_EQ(run.output().find("error:"), std::string::npos) << run.output();
    EXPECT_EQ(run.output().find("Failed"), std::string::npos) << run.output();
    EXPECT_EQ(test::TemporaryFilesIn(folder), std::vector<std::string>{});
    EXPECT_FALSE(std::filesystem::exists(folder / "read.bin"));
}

class InterruptRun : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TAVREL_WORK_DIR", work.path().c_str(), 1);
        unsetenv("TAVREL_SIM_CONFIG");
        unsetenv("TAVREL_SIM_SOCKET");
    }
    void TearDown() override { unsetenv("TAVREL_WORK_DIR"); }

    test::TempDir work;
};

TEST_F(InterruptRun, OverUartTheRunEndsAndTheBoardSeesThePortClosed) {
    std::string error;
    const auto config = sim::ParseSimConfig("chip=KR2A600 no-ready", error);
    ASSERT_TRUE(config) << error;
    auto board = sim::Board::Create(*config, error);
    ASSERT_TRUE(board) << error;
    const std::string loaders = (work / "config").string();
    std::filesystem::create_directories(loaders);
    ASSERT_TRUE(sim::WriteLoaderFiles(loaders, error)) << error;
    auto door = sim::SerialDoor::Open(*board, error);
    ASSERT_TRUE(door) << error;

    int sessions = 0;
    for (const Case& c : Cases(work.path())) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = tavrel::test::TavrelCliArgs({});
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        argv.insert(argv.end(), {"--chip", "KR2A600", "--interface", "UART", "--port", door->path(), "--loader-dir",
                                 loaders});
        test::BackgroundProcess run(argv);
        // Once the loader is being downloaded the port is open: one session per run.
        InterruptAndCheck(run, c, work.path(), "Uart downLoad MCU loader");
        EXPECT_TRUE(door->WaitSessionsEnded(++sessions, 5000));
    }
}

TEST_F(InterruptRun, OverJlinkTheRunEnds) {
    const std::string socket = (work / "board.sock").string();
    test::SimProcess board({"--chip", "KR2A600", "--no-ready", "--socket", socket});
    ASSERT_TRUE(board.WaitServing()) << board.output();
    const std::string loaders = test::WordAfter(board.output(), "  loader files: ");
    setenv("TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH, 1);
    setenv("TAVREL_SIM_SOCKET", socket.c_str(), 1);
    for (const Case& c : Cases(work.path())) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = tavrel::test::TavrelCliArgs({});
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        argv.insert(argv.end(), {"--chip", "KR2A600", "--interface", "JLINK", "--loader-dir", loaders});
        test::BackgroundProcess run(argv);
        InterruptAndCheck(run, c, work.path());
    }
    unsetenv("TAVREL_JLINK_LIBRARY");
    unsetenv("TAVREL_SIM_SOCKET");
    EXPECT_EQ(board.Stop(), 0);
    EXPECT_EQ(board.output().find("violation"), std::string::npos) << board.output();
}

}  // namespace
}  // namespace tavrel
