// Several boards at once: "tavrel-cli program --interface UART --port A --port B --port C" against
// `tavrel-cli sim` boards in processes of their own, each with its own flash file.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CliRun.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "SimProcess.h"

namespace tavrel {
namespace {

class MultiBoardSim : public ::testing::Test {
protected:
    // A KR2A600 board; extra: fault switches of `tavrel-cli sim`; fill: what its flash holds first.
    void AddBoard(std::vector<std::string> extra = {}, std::optional<uint8_t> fill = std::nullopt) {
        const std::string name = "board" + std::to_string(boards.size());
        if (fill) test::WriteFileBytes(folder / (name + ".bin"), std::vector<uint8_t>(0x100000, *fill));
        std::vector<std::string> options = {"--chip", "KR2A600", "--socket", (folder / (name + ".sock")).string(),
                                            "--flash-file", (folder / (name + ".bin")).string()};
        options.insert(options.end(), extra.begin(), extra.end());
        boards.push_back(std::make_unique<test::SimProcess>(options));
        ASSERT_TRUE(boards.back()->WaitServing()) << boards.back()->output();
        ports.push_back(test::WordAfter(boards.back()->output(), "Serial door: "));
        loaderDir = test::WordAfter(boards.back()->output(), "  loader files: ");
    }

    test::ProcessResult Program(std::vector<std::string> args) {
        std::vector<std::string> argv =
            tavrel::test::TavrelCliArgs({"program", "--chip", "KR2A600", "--loader-dir", loaderDir});
        argv.insert(argv.end(), args.begin(), args.end());
        return test::RunProcess(argv, {{"TAVREL_WORK_DIR", folder.path().string()}, {"TAVREL_SIM_CONFIG", ""}});
    }

    std::vector<std::string> EveryPort() {
        std::vector<std::string> args;
        for (const auto& port : ports) args.insert(args.end(), {"--port", port});
        return args;
    }

    std::string HexFile() {
        const auto path = folder / "app.hex";
        test::WriteTextFile(path, test::HexImage(0x20000000, code) + test::HexEnd() + "\n");
        return path.string();
    }

    std::vector<uint8_t> Flash(size_t board) {
        const auto bytes = test::ReadFileBytes(folder / ("board" + std::to_string(board) + ".bin"));
        if (bytes.size() < 0x1000 + code.size()) return {};
        return {bytes.begin() + 0x1000, bytes.begin() + 0x1000 + static_cast<long>(code.size())};
    }

    // The summary's row of a port: its words (port, result..., time, bytes).
    static std::vector<std::string> Row(const std::string& out, const std::string& port) {
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(port + " ", 0) != 0) continue;
            std::istringstream words(line);
            std::vector<std::string> row;
            for (std::string word; words >> word;) row.push_back(word);
            return row;
        }
        return {};
    }

    test::TempDir folder;
    std::vector<std::unique_ptr<test::SimProcess>> boards;
    std::vector<std::string> ports;
    std::string loaderDir;
    std::vector<uint8_t> code = test::PatternBytes(0x2345, 5);
};

TEST_F(MultiBoardSim, ProgramsEveryBoardAndSumsItUp) {
    for (int i = 0; i < 3; ++i) AddBoard();
    std::vector<std::string> args = {"--interface", "UART", "--hex", HexFile(), "--verify"};
    const auto every = EveryPort();
    args.insert(args.end(), every.begin(), every.end());
    const auto run = Program(args);
    EXPECT_EQ(run.exitCode, 0) << run.err << run.out;
    EXPECT_EQ(run.out.rfind("Port", 0), 0u) << run.out;
    for (size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(ports[i]);
        EXPECT_EQ(Flash(i), code);
        // Every board's own messages, each with its port in front.
        EXPECT_NE(run.err.find(ports[i] + ": Verify Sucess"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(ports[i] + ": 100% Flash Success"), std::string::npos) << run.err;
        const auto row = Row(run.out, ports[i]);
        ASSERT_EQ(row.size(), 4u) << run.out;
        EXPECT_EQ(row[1], "ok");
        // At least the image went out, and came back for the verify.
        EXPECT_GT(std::stoull(row[3]), 2 * code.size());
    }
    // The boards' traffic lines are the parent's to read, not the user's.
    EXPECT_EQ(run.err.find("board bytes"), std::string::npos) << run.err;
    EXPECT_EQ(test::TemporaryFilesIn(folder.path()), std::vector<std::string>{});
    for (auto& board : boards) {
        EXPECT_EQ(board->Stop(), 0);
        EXPECT_EQ(board->output().find("violation"), std::string::npos) << board->output();
    }
}

// One board fails (a write stored wrong, caught by the verify; or its board gone before the run):
// the others are programmed whole, and the summary and the exit status say which one failed.
TEST_F(MultiBoardSim, OneBoardsFailureLeavesTheOthersWhole) {
    const struct {
        const char* what;
        std::vector<std::string> fault;
        bool killed;
        const char* message;
    } cases[] = {
        {"corrupt write", {"--corrupt-write", "3"}, false, ": error: Verify Fail"},
        {"board gone", {}, true, ": error: No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        boards.clear();
        ports.clear();
        AddBoard();
        AddBoard(c.fault);
        AddBoard();
        // A gone board's port is a path nobody has: a pseudo-terminal's number, once freed, may be
        // another test's board the next moment.
        if (c.killed) {
            boards[1]->Stop();
            ports[1] = (folder / "gone-board").string();
        }
        std::vector<std::string> args = {"--interface", "UART", "--hex", HexFile(), "--verify"};
        const auto every = EveryPort();
        args.insert(args.end(), every.begin(), every.end());
        const auto run = Program(args);
        EXPECT_EQ(run.exitCode, 1) << run.err << run.out;
        EXPECT_NE(run.err.find(ports[1] + c.message), std::string::npos) << run.err;
        EXPECT_EQ(Row(run.out, ports[1]).at(1) + " " + Row(run.out, ports[1]).at(2), "failed (exit") << run.out;
        EXPECT_EQ(Row(run.out, ports[1]).at(3), "1)") << run.out;
        for (size_t i : {0u, 2u}) {
            EXPECT_EQ(Flash(i), code) << ports[i];
            EXPECT_EQ(Row(run.out, ports[i]).at(1), "ok") << run.out;
        }
    }
}

// Each board reads into its own file, the port's name before the extension.
TEST_F(MultiBoardSim, ReadsEveryBoardIntoItsOwnFile) {
    AddBoard({}, 0x11);
    AddBoard({}, 0x22);
    const auto output = folder / "flash.bin";
    std::vector<std::string> argv =
        tavrel::test::TavrelCliArgs({"read", "--chip", "KR2A600", "--loader-dir", loaderDir, "--interface", "UART",
                                     "--address", "0x1000", "--length", "0x100", "--output", output.string()});
    const auto every = EveryPort();
    argv.insert(argv.end(), every.begin(), every.end());
    const auto run = test::RunProcess(argv, {{"TAVREL_WORK_DIR", folder.path().string()}, {"TAVREL_SIM_CONFIG", ""}});
    EXPECT_EQ(run.exitCode, 0) << run.err << run.out;
    EXPECT_FALSE(std::filesystem::exists(output));
    const uint8_t fills[] = {0x11, 0x22};
    for (size_t i = 0; i < ports.size(); ++i) {
        std::string tag = ports[i].substr(5);  // "/dev/pts/N" -> "pts_N"
        std::replace(tag.begin(), tag.end(), '/', '_');
        EXPECT_EQ(test::ReadFileBytes(folder / ("flash-" + tag + ".bin")), std::vector<uint8_t>(0x100, fills[i]))
            << ports[i];
    }
    // A saved read job names one file; without --output every board would write it.
    const auto job = folder / "read.txt";
    test::WriteTextFile(job, "ChipName:KR2A600\r\nInterfaceType:UART\r\nUART Baudrate:115200\r\n"
                             "Flash Location:External\r\nFlash Interface:QSPI\r\nFlash Type:\r\nOption:Read\r\n"
                             "Read mode:Save File\r\nFile Path:" + output.string() + "\r\nFlash Address:1000\r\n"
                             "Word:100\r\n");
    argv = tavrel::test::TavrelCliArgs({"read", "--settings", job.string(), "--interface", "UART"});
    argv.insert(argv.end(), every.begin(), every.end());
    const auto none = test::RunProcess(argv, {{"TAVREL_WORK_DIR", folder.path().string()}, {"TAVREL_SIM_CONFIG", ""}});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find("several boards at once read with --output FILE or --dump (each board gets its own file)"),
              std::string::npos)
        << none.err;
}

// Ctrl-C stops every board through its own failure path; the summary still comes, and the status
// is the shell's for SIGINT.
TEST_F(MultiBoardSim, CtrlCStopsEveryBoard) {
    // Lines that run at their baud rate, and an image long enough to be stopped in the middle.
    AddBoard({"--paced-serial"});
    AddBoard({"--paced-serial"});
    code = test::PatternBytes(0xF000, 7);
    std::vector<std::string> argv = {"/usr/bin/env", "TAVREL_WORK_DIR=" + folder.path().string(), "TAVREL_SIM_CONFIG=",
                                     TAVREL_CLI_PATH, "program", "--chip", "KR2A600", "--loader-dir", loaderDir,
                                     "--interface", "UART", "--hex", HexFile()};
    const auto every = EveryPort();
    argv.insert(argv.end(), every.begin(), every.end());
    test::BackgroundProcess run(argv);
    ASSERT_TRUE(run.ReadUntil("% Uart Download Target Image File", 60000)) << run.output();
    run.Signal(SIGINT);
    EXPECT_EQ(run.Wait(), 130) << run.output();
    for (const auto& port : ports) {
        EXPECT_NE(run.output().find(port + ": tavrel-cli program: interrupted"), std::string::npos) << run.output();
        EXPECT_EQ(Row(run.output(), port).at(1) + " " + Row(run.output(), port).at(2), "failed (exit") << run.output();
        EXPECT_EQ(Row(run.output(), port).at(3), "143)") << run.output();
    }
    EXPECT_EQ(test::TemporaryFilesIn(folder.path()), std::vector<std::string>{});
}

// Whether a process whose command line names `text` is still running (a board's, by its files).
bool ProcessMentioning(const std::string& text) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        const std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (cmdline.find(text) != std::string::npos) return true;
    }
    return false;
}

// A hang-up stops every board through its own failure path, as SIGTERM does, and the summary
// comes; a parent killed outright leaves boards that stop by themselves: nothing is left behind.
TEST_F(MultiBoardSim, HangUpOrALostParentStopsEveryBoardAndLeavesNothing) {
    for (const int signal : {SIGHUP, SIGKILL}) {
        SCOPED_TRACE(signal == SIGHUP ? "hang-up" : "parent killed");
        boards.clear();
        ports.clear();
        AddBoard({"--paced-serial"}, 0x11);
        AddBoard({"--paced-serial"}, 0x22);
        const auto output = folder / ("out-" + std::to_string(signal) + ".bin");
        std::vector<std::string> argv = {"/usr/bin/env", "TAVREL_WORK_DIR=" + folder.path().string(),
                                         "TAVREL_SIM_CONFIG=", TAVREL_CLI_PATH, "read", "--chip", "KR2A600",
                                         "--loader-dir", loaderDir, "--interface", "UART", "--address", "0",
                                         "--length", "0x40000", "--output", output.string()};
        const auto every = EveryPort();
        argv.insert(argv.end(), every.begin(), every.end());
        test::BackgroundProcess run(argv);
        ASSERT_TRUE(run.ReadUntil("% Read data", 60000)) << run.output();
        run.Signal(signal);
        const int status = run.Wait();
        if (signal == SIGHUP) {
            EXPECT_EQ(status, 128 + SIGHUP) << run.output();
            for (const auto& port : ports) {
                EXPECT_EQ(Row(run.output(), port).at(1) + " " + Row(run.output(), port).at(2), "failed (exit")
                    << run.output();
                EXPECT_EQ(Row(run.output(), port).at(3), "143)") << run.output();
            }
        }
        // The boards end on their own, within their waits' bounds.
        bool gone = false;
        for (int i = 0; i < 600 && !gone; ++i) {
            gone = !ProcessMentioning((folder / output.stem()).string() + "-");
            if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_TRUE(gone) << "a board is still running";
        EXPECT_EQ(test::TemporaryFilesIn(folder.path()), std::vector<std::string>{});
        for (auto& board : boards) EXPECT_EQ(board->output().find("violation"), std::string::npos) << board->output();
    }
}

// A board whose loader never answers does not hold the others: its own time limit stops it,
// and the summary says so.
TEST_F(MultiBoardSim, EveryBoardHasATimeLimitOfItsOwn) {
    AddBoard();
    AddBoard({"--no-ready"});
    std::vector<std::string> args = {"--interface", "UART", "--hex", HexFile(), "--board-time-limit", "5"};
    const auto every = EveryPort();
    args.insert(args.end(), every.begin(), every.end());
    const auto start = std::chrono::steady_clock::now();
    const auto run = Program(args);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(19));  // the loader's wait is 20 s
    EXPECT_EQ(run.exitCode, 1) << run.err << run.out;
    EXPECT_EQ(Row(run.out, ports[0]).at(1), "ok") << run.out;
    EXPECT_EQ(Row(run.out, ports[1]).at(1) + " " + Row(run.out, ports[1]).at(2) + " " + Row(run.out, ports[1]).at(3),
              "failed (time limit)")
        << run.out;
    EXPECT_NE(run.err.find(ports[1] + ": time limit of 5 s passed: stopping"), std::string::npos) << run.err;
    EXPECT_EQ(Flash(0), code);
    EXPECT_EQ(test::TemporaryFilesIn(folder.path()), std::vector<std::string>{});
}

TEST_F(MultiBoardSim, SeveralPortsAreForUartOnlyAndEachOnce) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--port", "/dev/ttyS0", "--port", "/dev/ttyS1"},
         "--port given several times: several boards at once go with --interface UART"},
        {{"--interface", "JLINK", "--port", "/dev/ttyS0", "--port", "/dev/ttyS1"},
         "--port given several times: several boards at once go with --interface UART"},
        {{"--interface", "UART", "--port", "/dev/ttyS0", "--port", "/dev/ttyS1", "--port", "/dev/ttyS0"},
         "--port: /dev/ttyS0 is given twice (one board per port)"},
        {{"--interface", "UART", "--port", "/dev/ttyS0", "--port", "/dev/ttyS1", "--board-time-limit", "0"},
         "--board-time-limit: '0' is not a number of seconds from 1"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--hex", HexFile()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto run = Program(args);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    const auto connect = test::RunProcess(tavrel::test::TavrelCliArgs(
        {"connect", "--chip", "KR2A600", "--interface", "UART", "--port", "/dev/ttyS0", "--port", "/dev/ttyS1"}));
    EXPECT_EQ(connect.exitCode, 2);
    EXPECT_NE(connect.err.find("--port: connect reaches one board; give one --port"), std::string::npos) << connect.err;
}

}  // namespace
}  // namespace tavrel
