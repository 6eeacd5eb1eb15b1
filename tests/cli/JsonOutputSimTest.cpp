// --json: every line of standard output a JSON object, the run's events in order, one final
// result whose status is the exit status; and a production line of one board over J-Link.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "BackgroundProcess.h"
#include "CliRun.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "SimProcess.h"

namespace tavrel {
namespace {

using nlohmann::json;

// Every line of out parsed; a line that is not a JSON object fails the test.
std::vector<json> Events(const std::string& out) {
    std::vector<json> events;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        auto event = json::parse(line, nullptr, false);
        EXPECT_TRUE(!event.is_discarded() && event.is_object() && event.contains("event")) << line;
        if (!event.is_discarded()) events.push_back(event);
    }
    return events;
}

class JsonOutputSim : public ::testing::Test {
protected:
    void SetUp() override {
        socket = (folder / "board.sock").string();
        board = std::make_unique<test::SimProcess>(std::vector<std::string>{
            "--chip", "KR2A600", "--socket", socket, "--flash-file", (folder / "flash.bin").string()});
        ASSERT_TRUE(board->WaitServing()) << board->output();
        port = test::WordAfter(board->output(), "Serial door: ");
        loaderDir = test::WordAfter(board->output(), "  loader files: ");
        test::WriteTextFile(folder / "app.hex", test::HexImage(0x20000000, code) + test::HexEnd() + "\n");
    }

    test::ProcessResult Run(std::vector<std::string> args) {
        std::vector<std::string> argv = tavrel::test::TavrelCliArgs({});
        argv.insert(argv.end(), args.begin(), args.end());
        return test::RunProcess(argv, {{"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH}, {"TAVREL_SIM_SOCKET", socket},
                                       {"TAVREL_WORK_DIR", folder.path().string()}, {"TAVREL_SIM_CONFIG", ""}});
    }

    std::vector<uint8_t> FlashAt(uint32_t offset, size_t length) {
        const auto bytes = test::ReadFileBytes(folder / "flash.bin");
        if (bytes.size() < offset + length) return {};
        return {bytes.begin() + offset, bytes.begin() + offset + static_cast<long>(length)};
    }

    test::TempDir folder;
    std::string socket, port, loaderDir;
    std::unique_ptr<test::SimProcess> board;
    std::vector<uint8_t> code = test::PatternBytes(0x1800, 9);
};

TEST_F(JsonOutputSim, EveryLineParsesAndTheFinalStatusIsTheExitStatus) {
    const std::string hex = (folder / "app.hex").string();
    const struct {
        const char* what;
        std::vector<std::string> args;
        int status;
        bool progress;  // the worker's steps come as progress events
    } cases[] = {
        {"program over J-Link", {"program", "--chip", "KR2A600", "--hex", hex, "--verify"}, 0, true},
        {"program over UART", {"program", "--chip", "KR2A600", "--interface", "UART", "--port", port, "--hex", hex}, 0, true},
        {"verify", {"verify", "--chip", "KR2A600", "--hex", hex}, 0, true},
        {"read", {"read", "--chip", "KR2A600", "--address", "0x1000", "--length", "0x10", "--dump"}, 0, true},
        {"erase", {"erase", "--chip", "KR2A600", "--sectors", "8-8"}, 0, true},
        {"connect", {"connect", "--chip", "KR2A600"}, 0, false},
        {"inspect of a file that is no boot image", {"inspect", hex}, 1, false},
        {"a missing image", {"program", "--chip", "KR2A600", "--bin", (folder / "none.bin").string(), "--address", "0x1000"}, 1, true},
        {"an unknown option", {"program", "--chip", "KR2A600", "--hex", hex, "--bogus"}, 2, false},
        {"a usage error after parsing", {"program", "--chip", "KR2B000", "--hex", hex}, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--loader-dir", loaderDir, "--json"});
        if (args.front() == "inspect") args = {"inspect", hex, "--json"};
        const auto run = Run(args);
        EXPECT_EQ(run.exitCode, c.status) << run.err << run.out;
        const auto events = Events(run.out);
        ASSERT_GE(events.size(), 2u) << run.out;
        EXPECT_EQ(events.front()["event"], "start");
        EXPECT_EQ(events.front()["command"], args.front());
        EXPECT_EQ(events.back()["event"], "result");
        EXPECT_EQ(events.back()["status"], run.exitCode);
        EXPECT_EQ(events.back()["success"], run.exitCode == 0);
        int results = 0, progress = 0, errors = 0, finals = 0;
        for (const auto& event : events) {
            results += event["event"] == "result";
            progress += event["event"] == "progress";
            errors += event["event"] == "message" && event["level"] == "error";
            if (event["event"] != "final") continue;
            // The operation's final status agrees with the exit status, and no step passes for one.
            ++finals;
            EXPECT_EQ(event["kind"], run.exitCode == 0 ? "success" : "failure") << event.dump();
            EXPECT_EQ(event["percent"], 100);
        }
        for (const auto& event : events)
            if (event["event"] == "progress") {
                EXPECT_EQ(event["kind"], "step") << event.dump();
            }
        EXPECT_EQ(results, 1);
        EXPECT_LE(finals, 1) << run.out;
        // Every worker run of program, read and erase ends with its final status.
        const bool workerRun = c.progress && args.front() != "verify";
        EXPECT_EQ(finals == 1, workerRun) << run.out;
        EXPECT_EQ(progress > 0, c.progress) << run.out;
        // A failure says why, in the events themselves, except where the command's own text does.
        if (run.exitCode != 0 && args.front() != "inspect") {
            EXPECT_GT(errors, 0) << run.out;
        }
    }
    // What a command prints as text is the result's output, not lines of its own.
    const auto read = Run({"read", "--chip", "KR2A600", "--address", "0x1000", "--length", "8", "--dump", "--loader-dir",
                           loaderDir, "--json"});
    const auto events = Events(read.out);
    ASSERT_FALSE(events.empty());
    ASSERT_EQ(events.back()["output"].size(), 1u) << read.out;
    EXPECT_EQ(events.back()["output"][0].get<std::string>().rfind("0x00001000: ", 0), 0u) << read.out;
}

// Ctrl-C during a run: the events stop with the operation's failure and a result of 130.
TEST(JsonOutputInterrupted, TheResultIsTheSignalsStatus) {
    test::TempDir folder;
    const std::string socket = (folder / "board.sock").string();
    // The loader never gets ready: without the signal the run would wait 90 s.
    test::SimProcess board({"--chip", "KR2A600", "--no-ready", "--socket", socket});
    ASSERT_TRUE(board.WaitServing()) << board.output();
    const std::string loaders = test::WordAfter(board.output(), "  loader files: ");
    const std::string hex = std::string(TAVREL_SOURCE_DIR) + "/examples/kr2a600-app.hex";
    // Standard error aside, so that the output read is standard output alone.
    const std::string command = "exec env TAVREL_JLINK_LIBRARY=" + std::string(TAVREL_SIM_JLINK_PATH) +
                                " TAVREL_SIM_SOCKET=" + socket + " TAVREL_WORK_DIR=" + folder.path().string() +
                                " TAVREL_SIM_CONFIG= " + TAVREL_CLI_PATH + " program --chip KR2A600 --hex " + hex +
                                " --loader-dir " + loaders + " --json 2>" + (folder / "err.txt").string();
    test::BackgroundProcess run({"/bin/sh", "-c", command});
    ASSERT_TRUE(run.ReadUntil("\"event\":\"progress\"")) << run.output();
    run.Signal(SIGINT);
    EXPECT_EQ(run.Wait(), 130) << run.output();
    const auto events = Events(run.output());
    ASSERT_GE(events.size(), 3u) << run.output();
    EXPECT_EQ(events.front()["event"], "start");
    EXPECT_EQ(events.back()["event"], "result");
    EXPECT_EQ(events.back()["status"], 130);
    EXPECT_EQ(events.back()["success"], false);
    for (const auto& event : events)
        if (event["event"] == "final") {
            EXPECT_EQ(event["kind"], "failure") << event.dump();
        }
    EXPECT_EQ(board.Stop(), 0);
}

// One J-Link board on a line: its number from the state file in its flash, its record in the log.
TEST_F(JsonOutputSim, OneBoardOverJLinkGetsItsNumberAndItsRecord) {
    const auto state = folder / "serial.json";
    const auto log = folder / "line.jsonl";
    for (int round = 0; round < 2; ++round) {
        const auto run = Run({"program", "--chip", "KR2A600", "--hex", (folder / "app.hex").string(), "--verify",
                              "--loader-dir", loaderDir, "--serial-number", "0x500:0x10", "--serial-number-at",
                              "0x1008", "--serial-number-format", "u32be", "--serial-number-state", state.string(),
                              "--log", log.string(), "--json"});
        EXPECT_EQ(run.exitCode, 0) << run.err << run.out;
        const auto events = Events(run.out);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back()["status"], 0);
        const uint32_t number = 0x500 + 0x10 * round;
        EXPECT_EQ(FlashAt(0x1008, 4), (std::vector<uint8_t>{0, 0, static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number)}));
    }
    std::ifstream in(log);
    std::vector<json> records;
    for (std::string line; std::getline(in, line);) records.push_back(json::parse(line));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]["route"], "JLINK");
    EXPECT_EQ(records[1]["board"], nullptr);
    EXPECT_EQ(records[1]["identity"]["serial_number"], 0x510);
    EXPECT_EQ(records[1]["identity"]["bytes"], "00000510");
    EXPECT_EQ(records[1]["result"], "passed");
}

}  // namespace
}  // namespace tavrel
