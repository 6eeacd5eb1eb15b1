// Several boards at once over J-Link and USB: "tavrel-cli program --probe A --probe B --probe C"
// (or --usb-path A ...) against `tavrel-cli sim` boards in processes of their own, each with its
// probe serial, USB path and flash file, all reached through the one probe library or simulated
// bus (TAVREL_SIM_SOCKET lists their sockets).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
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

// The records of a log: every whole line parses; a last line without its newline may be torn.
std::vector<json> LogRecords(const std::filesystem::path& log) {
    std::ifstream in(log, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    std::vector<json> records;
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find('\n', start);
        if (end == std::string::npos) break;  // torn last line
        auto record = json::parse(all.substr(start, end - start), nullptr, false);
        EXPECT_FALSE(record.is_discarded()) << "a record that does not parse: " << all.substr(start, end - start);
        if (!record.is_discarded()) records.push_back(record);
        start = end + 1;
    }
    return records;
}

std::vector<uint8_t> U32le(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

enum class Route { JLink, Usb };

class ProbeLineSim : public ::testing::Test {
protected:
    // J-Link: a KR2A600 board behind probe serial 101, 102, ...; USB: a KR2H70X DFU device at USB
    // path 1-1, 1-2, ... extra: fault switches of `tavrel-cli sim`.
    void AddBoard(std::vector<std::string> extra = {}) {
        const std::string name = "board" + std::to_string(boards.size());
        const std::string key = route == Route::JLink ? std::to_string(101 + boards.size())
                                                      : "1-" + std::to_string(1 + boards.size());
        const std::string socket = (folder / (name + ".sock")).string();
        std::vector<std::string> options = {"--socket", socket, "--flash-file", (folder / (name + ".bin")).string()};
        if (route == Route::JLink) options.insert(options.end(), {"--chip", "KR2A600", "--probe-serial", key});
        else options.insert(options.end(), {"--chip", "KR2H70X", "--flash-type", "W25Q20CL", "--usb-path", key});
        options.insert(options.end(), extra.begin(), extra.end());
        boards.push_back(std::make_unique<test::SimProcess>(options));
        ASSERT_TRUE(boards.back()->WaitServing()) << boards.back()->output();
        probes.push_back(key);
        sockets += (sockets.empty() ? "" : ":") + socket;
        loaderDir = test::WordAfter(boards.back()->output(), "  loader files: ");
    }

    std::map<std::string, std::string> Environment() const {
        return {{"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH}, {"TAVREL_SIM_SOCKET", sockets},
                {"TAVREL_WORK_DIR", folder.path().string()}, {"TAVREL_SIM_CONFIG", ""}, {"TAVREL_DFU_ID", ""}};
    }

    // program on the boards `which`, with args after the probes or USB paths. J-Link: the HEX
    // image at 0x1000 (erase all); USB: a bin at 0x2000, erase all.
    std::vector<std::string> Program(const std::vector<size_t>& which, std::vector<std::string> args) {
        std::vector<std::string> argv = tavrel::test::TavrelCliArgs({"program", "--loader-dir", loaderDir});
        if (route == Route::JLink) {
            argv.insert(argv.end(), {"--chip", "KR2A600", "--hex", HexFile()});
        } else {
            argv.insert(argv.end(), {"--chip", "KR2H70X", "--flash-type", "W25Q20CL", "--interface", "USB", "--bin",
                                     BinFile(), "--address", "2000", "--erase", "all"});
        }
        for (size_t board : which) argv.insert(argv.end(), {route == Route::JLink ? "--probe" : "--usb-path", probes[board]});
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    test::ProcessResult Run(const std::vector<std::string>& argv) { return test::RunProcess(argv, Environment()); }

    // The same run in the background, its environment on its command line.
    std::unique_ptr<test::BackgroundProcess> Start(const std::vector<std::string>& argv) {
        std::vector<std::string> words = {"/usr/bin/env"};
        for (const auto& [name, value] : Environment()) words.push_back(name + "=" + value);
        words.insert(words.end(), argv.begin(), argv.end());
        return std::make_unique<test::BackgroundProcess>(words);
    }

    std::string HexFile() {
        const auto path = folder / "app.hex";
        if (!std::filesystem::exists(path))
            test::WriteTextFile(path, test::HexImage(0x20000000, code) + test::HexEnd() + "\n");
        return path.string();
    }

    std::string BinFile() {
        const auto path = folder / "app.bin";
        if (!std::filesystem::exists(path)) test::WriteFileBytes(path, code);
        return path.string();
    }

    std::string Image() { return route == Route::JLink ? HexFile() : BinFile(); }
    uint32_t ImageAt() const { return route == Route::JLink ? 0x1000 : 0x2000; }
    // Where the serial number goes: inside the HEX image over J-Link, past the boot image over USB
    // (its header checks the image's bytes).
    uint32_t NumberAt() const { return route == Route::JLink ? 0x1010 : 0x8000; }

    std::vector<uint8_t> FlashAt(size_t board, uint32_t offset, size_t length) {
        const auto bytes = test::ReadFileBytes(folder / ("board" + std::to_string(board) + ".bin"));
        if (bytes.size() < offset + length) return {};
        return {bytes.begin() + offset, bytes.begin() + offset + static_cast<long>(length)};
    }

    // The summary's row of a board: its words (probe, result..., time, bytes).
    static std::vector<std::string> Row(const std::string& out, const std::string& key) {
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(key + " ", 0) != 0) continue;
            std::istringstream words(line);
            std::vector<std::string> row;
            for (std::string word; words >> word;) row.push_back(word);
            return row;
        }
        return {};
    }

    static std::string Result(const std::vector<std::string>& row) {
        std::string text;
        for (size_t i = 1; i + 2 < row.size(); ++i) text += (text.empty() ? "" : " ") + row[i];
        return text;
    }

    json State() {
        std::ifstream in(state);
        return json::parse(in, nullptr, false);
    }

    void ExpectNoViolations() {
        for (auto& board : boards) {
            board->Stop();
            EXPECT_EQ(board->output().find("violation"), std::string::npos) << board->output();
        }
    }

    Route route = Route::JLink;
    test::TempDir folder;
    std::filesystem::path state = folder / "serial.json";
    std::filesystem::path log = folder / "line.jsonl";
    std::vector<std::unique_ptr<test::SimProcess>> boards;
    std::vector<std::string> probes;
    std::string sockets, loaderDir;
    std::vector<uint8_t> code = test::PatternBytes(0x2345, 5);
};

// The tests that hold on every route, run over J-Link and over USB.
class LineRoutesSim : public ProbeLineSim, public ::testing::WithParamInterface<Route> {
protected:
    void SetUp() override { route = GetParam(); }
};

// Three good boards and a faulty fourth, each behind its own probe or USB path: consecutive numbers, each in
// its own flash, four records whose SHA-256 is the image's; the faulty board's number is recorded
// as failed and the next run starts after it.
TEST_P(LineRoutesSim, ConsecutiveNumbersAndARecordOfEveryBoard) {
    for (int i = 0; i < 3; ++i) AddBoard();
    AddBoard({"--corrupt-write", "3"});
    const std::string at = "0x" + [](uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "%X", value);
        return std::string(text);
    }(NumberAt());
    const std::vector<std::string> line = {"--verify", "--serial-number", "1000", "--serial-number-at", at,
                                           "--serial-number-state", state.string(), "--log", log.string()};
    const auto run = Run(Program({0, 1, 2, 3}, line));
    EXPECT_EQ(run.exitCode, 1) << run.err << run.out;
    EXPECT_EQ(run.out.rfind(route == Route::JLink ? "Probe" : "USB path", 0), 0u) << run.out;
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(probes[i]);
        EXPECT_EQ(Result(Row(run.out, probes[i])), i < 3 ? "ok" : "failed (exit 1)") << run.out;
        if (i == 3) continue;
        EXPECT_EQ(FlashAt(i, NumberAt(), 4), U32le(static_cast<uint32_t>(1000 + i)));
        if (route == Route::JLink) {
            EXPECT_EQ(FlashAt(i, 0x1000, 0x10), std::vector<uint8_t>(code.begin(), code.begin() + 0x10));
            EXPECT_EQ(FlashAt(i, 0x1014, 0x20), std::vector<uint8_t>(code.begin() + 0x14, code.begin() + 0x34));
        } else {
            EXPECT_EQ(FlashAt(i, ImageAt(), code.size()), code);
        }
        EXPECT_NE(run.err.find(probes[i] + ": 100% Flash Success"), std::string::npos) << run.err;
    }
    EXPECT_NE(run.err.find(probes[3] + ": error: "), std::string::npos) << run.err;
    const std::string sha = test::RunProcess({"/usr/bin/sha256sum", Image()}).out.substr(0, 64);
    auto records = LogRecords(log);
    ASSERT_EQ(records.size(), 4u);
    std::map<std::string, json> byProbe;
    for (const auto& record : records) byProbe[record["board"].get<std::string>()] = record;
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(probes[i]);
        const json& record = byProbe.at(probes[i]);
        EXPECT_EQ(record["route"], route == Route::JLink ? "JLINK" : "USB");
        EXPECT_EQ(record["image"]["sha256"], sha);
        EXPECT_EQ(record["identity"]["serial_number"], 1000 + i);
        EXPECT_EQ(record["result"], i < 3 ? "passed" : "failed");
        EXPECT_EQ(record["message"].is_null(), i < 3) << record.dump();
        // The image went out over the link, and came back for the verify (the faulty board's
        // verify stops at its first wrong chunk).
        EXPECT_GT(record["bytes_moved"].get<uint64_t>(), (i < 3 ? 2 : 1) * code.size());
    }
    std::map<uint64_t, std::string> status;
    const json saved = State();
    for (const auto& entry : saved["numbers"]) status[entry["number"]] = entry["status"];
    EXPECT_EQ(status, (std::map<uint64_t, std::string>{{1000, "passed"}, {1001, "passed"}, {1002, "passed"}, {1003, "failed"}}));

    const auto next = Run(Program({1}, line));
    EXPECT_EQ(next.exitCode, 0) << next.err << next.out;
    EXPECT_EQ(FlashAt(1, NumberAt(), 4), U32le(1004));
    records = LogRecords(log);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records.back()["board"], probes[1]);
    EXPECT_EQ(records.back()["identity"]["serial_number"], 1004);
    EXPECT_EQ(State()["next"], 1005);
    ExpectNoViolations();
}

// --board-data: each board's own row (its probe's, else the next free one) at its address, beside
// its serial number; a failed board's row stays given, the next run takes the row after it.
TEST_F(ProbeLineSim, EveryBoardGetsItsOwnRowOfTheBoardData) {
    for (int i = 0; i < 3; ++i) AddBoard();
    AddBoard({"--corrupt-write", "3"});
    const auto data = folder / "boards.csv";
    test::WriteTextFile(data, "key,address,data\n103,0x9000,text:KEYED-103\n,0x9000,text:ROW-A\n,0x9000,text:ROW-B\n"
                              ",0x9000,text:ROW-C\n,9000,\"text:ROW-D\"\n");
    const std::vector<std::string> line = {"--verify", "--serial-number", "1000", "--serial-number-at", "0x1010",
                                           "--board-data", data.string(), "--serial-number-state", state.string(),
                                           "--log", log.string()};
    const auto run = Run(Program({0, 1, 2, 3}, line));
    EXPECT_EQ(run.exitCode, 1) << run.err << run.out;
    const std::string expected[] = {"ROW-A", "ROW-B", "KEYED-103"};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(probes[i]);
        EXPECT_EQ(FlashAt(i, 0x9000, expected[i].size()), std::vector<uint8_t>(expected[i].begin(), expected[i].end()));
        EXPECT_EQ(FlashAt(i, 0x1010, 4), U32le(static_cast<uint32_t>(1000 + i)));
        EXPECT_EQ(FlashAt(i, 0x1000, 0x10), std::vector<uint8_t>(code.begin(), code.begin() + 0x10));
    }
    std::map<std::string, json> byProbe;
    for (const auto& record : LogRecords(log)) byProbe[record["board"].get<std::string>()] = record;
    ASSERT_EQ(byProbe.size(), 4u);
    EXPECT_EQ(byProbe.at("103")["board_data"]["line"], 2);
    EXPECT_EQ(byProbe.at("103")["board_data"]["key"], "103");
    EXPECT_EQ(byProbe.at("101")["board_data"]["bytes"], "524F572D41");
    EXPECT_EQ(byProbe.at("101")["board_data"]["address"], "0x9000");
    EXPECT_EQ(byProbe.at("104")["board_data"]["line"], 5);
    EXPECT_EQ(byProbe.at("104")["result"], "failed");
    const json saved = State();
    std::map<size_t, std::string> rows;
    for (const auto& entry : saved["board_data"]) rows[entry["line"]] = entry["status"];
    EXPECT_EQ(rows, (std::map<size_t, std::string>{{2, "passed"}, {3, "passed"}, {4, "passed"}, {5, "failed"}}));

    const auto next = Run(Program({0}, line));
    EXPECT_EQ(next.exitCode, 0) << next.err << next.out;
    const std::string last = "ROW-D";
    EXPECT_EQ(FlashAt(0, 0x9000, 5), std::vector<uint8_t>(last.begin(), last.end()));
    // No row left: refused before any board is touched.
    const auto flash = test::ReadFileBytes(folder / "board1.bin");
    const auto none = Run(Program({1}, line));
    EXPECT_EQ(none.exitCode, 1) << none.err;
    EXPECT_NE(none.err.find("has no row left for 102 (each row is given out once)"), std::string::npos) << none.err;
    EXPECT_EQ(test::ReadFileBytes(folder / "board1.bin"), flash);
    ExpectNoViolations();
}

// A row that cannot go where it says, or a malformed file, is refused with the file and line
// before any board is touched: no row given, no record, the flash as it was.
TEST_F(ProbeLineSim, ABoardDataRowThatDoesNotFitIsRefusedBeforeAnyBoard) {
    AddBoard();
    const auto flash = test::ReadFileBytes(folder / "board0.bin");
    const auto data = folder / "boards.csv";
    const std::string name = data.string();
    const struct {
        const char* rows;
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {",8000,hex:01\n,0x100,hex:0102\n", {},
         "--board-data: " + name + ", line 2: the identity at 0x100-0x101 overlaps the boot header (0x0-0xFFF)"},
        {",0x20000,text:MAC\n", {"--erase", "sectors"},
         "--board-data: " + name + ", line 1: the identity at 0x20000-0x20002 lies outside the flash the run erases"},
        {",8000,hex:01\n,8000,hex:1\n", {}, "--board-data: " + name + ", line 2: data 'hex:1': an odd number"},
        {",0x100E,hex:01020304\n", {"--serial-number", "1", "--serial-number-at", "0x1010"},
         "--board-data: " + name + ", line 1: the row overlaps the serial number at 0x1010"},
        {",8000,hex:01\n", {"--no-state"}, "--board-data goes with --serial-number-state FILE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        test::WriteTextFile(data, c.rows);
        std::vector<std::string> args = {"--board-data", name, "--log", log.string()};
        if (c.args.empty() || c.args.front() != "--no-state") {
            args.insert(args.end(), {"--serial-number-state", state.string()});
            args.insert(args.end(), c.args.begin(), c.args.end());
        }
        const auto run = Run(Program({0}, args));
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(state));
        EXPECT_FALSE(std::filesystem::exists(log));
        EXPECT_EQ(test::ReadFileBytes(folder / "board0.bin"), flash);
    }
}

// Ctrl-C stops every board through its own failure path, the summary still comes and the status
// is the shell's for SIGINT; a silent board is stopped by its own time limit.
TEST_F(ProbeLineSim, CtrlCAndTheTimeLimitStopBoardsThroughTheirFailurePath) {
    // Loaders that never get ready: each board would wait its 90 s.
    AddBoard({"--no-ready"});
    AddBoard({"--no-ready"});
    AddBoard();
    auto run = Start(Program({0, 1}, {}));
    for (size_t i : {0u, 1u}) ASSERT_TRUE(run->ReadUntil(probes[i] + ": ", 30000)) << run->output();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    run->Signal(SIGINT);
    EXPECT_EQ(run->Wait(), 130) << run->output();
    for (size_t i : {0u, 1u}) {
        EXPECT_NE(run->output().find(probes[i] + ": tavrel-cli program: interrupted"), std::string::npos) << run->output();
        EXPECT_EQ(Result(Row(run->output(), probes[i])), "failed (exit 143)") << run->output();
    }

    const auto start = std::chrono::steady_clock::now();
    const auto limited = Run(Program({2, 0}, {"--board-time-limit", "5"}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(limited.exitCode, 1) << limited.err << limited.out;
    EXPECT_EQ(Result(Row(limited.out, probes[2])), "ok") << limited.out;
    EXPECT_EQ(Result(Row(limited.out, probes[0])), "failed (time limit)") << limited.out;
    EXPECT_NE(limited.err.find(probes[0] + ": time limit of 5 s passed: stopping"), std::string::npos) << limited.err;
    EXPECT_EQ(FlashAt(2, 0x1000, code.size()), code);
    EXPECT_EQ(test::TemporaryFilesIn(folder.path()), std::vector<std::string>{});
    ExpectNoViolations();
}

// Several probes or USB paths are refused where they cannot be: another route, a serial that is
// no number or a path that is none, one board twice, connect.
TEST_F(ProbeLineSim, SeveralProbesAndUsbPathsAreForTheirRouteAndEachOnce) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"program", "--interface", "UART", "--probe", "11", "--probe", "22"}, "--probe does not go with --interface UART"},
        {{"program", "--probe", "11", "--probe", "first"}, "--probe: 'first' is not a J-Link serial number"},
        {{"erase", "--all", "--probe", "11", "--probe", "0xB"}, "--probe: 0xB is given twice (one board per probe)"},
        {{"connect", "--probe", "11", "--probe", "22"}, "--probe: connect reaches one board; give one --probe"},
        {{"program", "--chip", "KR2H70X", "--usb-path", "1-1", "--usb-path", "1-2"},
         "--usb-path does not go with --interface JLINK"},
        {{"program", "--chip", "KR2H70X", "--interface", "USB", "--usb-path", "1-1", "--usb-path", "1-x"},
         "--usb-path: '1-x' is not a USB path BUS-PORT[.PORT...]"},
        {{"erase", "--all", "--chip", "KR2H70X", "--interface", "USB", "--usb-path", "1-1", "--usb-path", "1-1"},
         "--usb-path: 1-1 is given twice (one board per USB path)"},
        {{"connect", "--chip", "KR2H70X", "--interface", "USB", "--usb-path", "1-1", "--usb-path", "1-2"},
         "--usb-path: connect reaches one board; give one --usb-path"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> argv = tavrel::test::TavrelCliArgs({});
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        if (std::find(c.args.begin(), c.args.end(), "--chip") == c.args.end()) argv.insert(argv.end(), {"--chip", "KR2A600"});
        if (c.args.front() == "program") argv.insert(argv.end(), {"--hex", HexFile()});
        const auto run = Run(argv);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

// The run killed at a random moment, again and again: no number is ever given twice, every
// record but a torn last line parses, and every number recorded passed or failed has its record.
TEST_P(LineRoutesSim, KilledAtAnyMomentNoNumberTwiceNoBrokenRecord) {
    AddBoard();
    AddBoard();
    std::mt19937 random(std::random_device{}());
    const int signals[] = {SIGKILL, SIGTERM, SIGINT};
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        auto run = Start(Program({0, 1}, {"--serial-number", "1", "--serial-number-at", route == Route::JLink ? "0x1010" : "0x8000",
                                          "--serial-number-state", state.string(), "--log", log.string()}));
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 900)(random)));
        run->Signal(signals[round % 3]);
        run->Wait();
        // A board process a killed parent left behind ends its own run before the next round.
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 3 == 0 ? 1500 : 0));
    }
    std::set<uint64_t> logged;
    for (const auto& record : LogRecords(log))
        EXPECT_TRUE(logged.insert(record["identity"]["serial_number"].get<uint64_t>()).second) << record.dump();
    if (!std::filesystem::exists(state)) return;  // every round was killed before it took a number
    const json saved = State();
    ASSERT_FALSE(saved.is_discarded());
    std::set<uint64_t> given;
    for (const auto& entry : saved["numbers"]) {
        const uint64_t number = entry["number"];
        EXPECT_TRUE(given.insert(number).second) << "number " << number << " given twice";
        if (entry["status"] != "issued") {
            EXPECT_EQ(logged.count(number), 1u) << "number " << number << " has no record";
        }
    }
    for (uint64_t number : logged) EXPECT_EQ(given.count(number), 1u) << number;
}

INSTANTIATE_TEST_SUITE_P(Routes, LineRoutesSim, ::testing::Values(Route::JLink, Route::Usb),
                         [](const ::testing::TestParamInfo<Route>& param) { return param.param == Route::JLink ? "JLink" : "Usb"; });

}  // namespace
}  // namespace tavrel
