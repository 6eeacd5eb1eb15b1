// The production line over UART: "tavrel-cli program --serial-number ... --serial-number-state
// FILE --log FILE" against `tavrel-cli sim` boards, each with its own flash file.
#include <gtest/gtest.h>
#include <signal.h>

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
    size_t start = 0;
    while (start < all.size()) {
        const size_t end = all.find('\n', start);
        if (end == std::string::npos) break;  // torn last line
        const std::string line = all.substr(start, end - start);
        auto record = json::parse(line, nullptr, false);
        EXPECT_FALSE(record.is_discarded()) << "a record that does not parse: " << line;
        if (!record.is_discarded()) records.push_back(record);
        start = end + 1;
    }
    return records;
}

std::string Sha256Of(const std::filesystem::path& file) {
    const auto run = test::RunProcess({"/usr/bin/sha256sum", file.string()});
    return run.out.substr(0, 64);
}

class ProductionLineSim : public ::testing::Test {
protected:
    void AddBoard(std::vector<std::string> extra = {}) {
        const std::string name = "board" + std::to_string(boards.size());
        std::vector<std::string> options = {"--chip", "KR2A600", "--socket", (folder / (name + ".sock")).string(),
                                            "--flash-file", (folder / (name + ".bin")).string()};
        options.insert(options.end(), extra.begin(), extra.end());
        boards.push_back(std::make_unique<test::SimProcess>(options));
        ASSERT_TRUE(boards.back()->WaitServing()) << boards.back()->output();
        ports.push_back(test::WordAfter(boards.back()->output(), "Serial door: "));
        loaderDir = test::WordAfter(boards.back()->output(), "  loader files: ");
    }

    std::vector<std::string> ProgramLine(const std::vector<size_t>& which, std::vector<std::string> args) {
        std::vector<std::string> argv = tavrel::test::TavrelCliArgs(
            {"program", "--chip", "KR2A600", "--loader-dir", loaderDir, "--interface", "UART", "--hex", HexFile(),
             "--verify", "--serial-number-state", state.string(), "--log", log.string()});
        for (size_t board : which) argv.insert(argv.end(), {"--port", ports[board]});
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    test::ProcessResult Run(const std::vector<std::string>& argv) {
        return test::RunProcess(argv, {{"TAVREL_WORK_DIR", folder.path().string()}, {"TAVREL_SIM_CONFIG", ""}});
    }

    std::string HexFile() {
        const auto path = folder / "app.hex";
        if (!std::filesystem::exists(path))
            test::WriteTextFile(path, test::HexImage(0x20000000, code) + test::HexEnd() + "\n");
        return path.string();
    }

    std::vector<uint8_t> FlashAt(size_t board, uint32_t offset, size_t length) {
        const auto bytes = test::ReadFileBytes(folder / ("board" + std::to_string(board) + ".bin"));
        if (bytes.size() < offset + length) return {};
        return {bytes.begin() + offset, bytes.begin() + offset + static_cast<long>(length)};
    }

    json State() {
        std::ifstream in(state);
        return json::parse(in, nullptr, false);
    }

    test::TempDir folder;
    std::filesystem::path state = folder / "serial.json";
    std::filesystem::path log = folder / "line.jsonl";
    std::vector<std::unique_ptr<test::SimProcess>> boards;
    std::vector<std::string> ports;
    std::string loaderDir;
    std::vector<uint8_t> code = test::PatternBytes(0x2345, 5);
};

std::vector<uint8_t> U32le(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

// Three good boards and a faulty fourth: consecutive numbers, each in its own flash, four
// records; the faulty board's number is recorded as failed and the next run starts after it.
TEST_F(ProductionLineSim, ConsecutiveNumbersAndARecordOfEveryBoard) {
    for (int i = 0; i < 3; ++i) AddBoard();
    AddBoard({"--corrupt-write", "3"});
    // Inside the image at 0x1010 (in place of its bytes); the run erases all flash.
    const auto run = Run(ProgramLine({0, 1, 2, 3}, {"--serial-number", "1000", "--serial-number-at", "0x1010"}));
    EXPECT_EQ(run.exitCode, 1) << run.err << run.out;
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(ports[i]);
        EXPECT_EQ(FlashAt(i, 0x1010, 4), U32le(static_cast<uint32_t>(1000 + i)));
        // The rest of the image is the image's.
        EXPECT_EQ(FlashAt(i, 0x1000, 0x10), std::vector<uint8_t>(code.begin(), code.begin() + 0x10));
        EXPECT_EQ(FlashAt(i, 0x1014, 0x20), std::vector<uint8_t>(code.begin() + 0x14, code.begin() + 0x34));
    }
    auto records = LogRecords(log);
    ASSERT_EQ(records.size(), 4u);
    std::map<std::string, json> byPort;
    for (const auto& record : records) byPort[record["board"].get<std::string>()] = record;
    const std::string sha = Sha256Of(HexFile());
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(ports[i]);
        const json& record = byPort.at(ports[i]);
        EXPECT_EQ(record["image"]["sha256"], sha);
        EXPECT_EQ(record["image"]["size"], std::filesystem::file_size(HexFile()));
        EXPECT_EQ(record["identity"]["serial_number"], 1000 + i);
        EXPECT_EQ(record["identity"]["address"], "0x1010");
        EXPECT_EQ(record["chip"], "KR2A600");
        EXPECT_EQ(record["route"], "UART");
        EXPECT_EQ(record["result"], i < 3 ? "passed" : "failed");
        EXPECT_EQ(record["exit_status"], i < 3 ? 0 : 1);
        EXPECT_EQ(record["message"], i < 3 ? json(nullptr) : json("error: Verify Fail"));
        EXPECT_GT(record["bytes_moved"].get<uint64_t>(), code.size());
        EXPECT_EQ(record["time"].get<std::string>().back(), 'Z');
    }
    json saved = State();
    EXPECT_EQ(saved["next"], 1004);
    std::map<uint64_t, std::string> status;
    for (const auto& entry : saved["numbers"]) status[entry["number"]] = entry["status"];
    EXPECT_EQ(status, (std::map<uint64_t, std::string>{{1000, "passed"}, {1001, "passed"}, {1002, "passed"}, {1003, "failed"}}));

    // The next run starts after the failed board's number, in erased flash past the image this time.
    const auto next = Run(ProgramLine({0}, {"--serial-number", "1000", "--serial-number-at", "0x8000",
                                            "--serial-number-format", "ascii:6"}));
    EXPECT_EQ(next.exitCode, 0) << next.err << next.out;
    const std::string text = "001004";
    EXPECT_EQ(FlashAt(0, 0x8000, 6), std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(FlashAt(0, 0x1010, 4), std::vector<uint8_t>(code.begin() + 0x10, code.begin() + 0x14));
    records = LogRecords(log);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records.back()["identity"]["serial_number"], 1004);
    EXPECT_EQ(records.back()["identity"]["bytes"], "303031303034");
    EXPECT_EQ(State()["next"], 1005);
    for (auto& board : boards) {
        board->Stop();
        EXPECT_EQ(board->output().find("violation"), std::string::npos) << board->output();
    }
}

// An identity that cannot go where it is asked is refused before any board is touched: no
// number is taken, no record written, the flash as it was.
TEST_F(ProductionLineSim, AnIdentityThatDoesNotFitIsRefusedBeforeAnyBoard) {
    AddBoard();
    const auto flash = test::ReadFileBytes(folder / "board0.bin");
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--serial-number", "1", "--serial-number-at", "0x10"},
         "--serial-number-at: the identity at 0x10-0x13 overlaps the boot header (0x0-0xFFF)"},
        {{"--serial-number", "1", "--serial-number-at", "0x20000", "--erase", "sectors"},
         "--serial-number-at: the identity at 0x20000-0x20003 lies outside the flash the run erases"},
        {{"--serial-number", "1", "--serial-number-at", "0x1010", "--crc", "3"},
         "--serial-number-at: the identity at 0x1010-0x1013 lies inside the image, whose boot header checks its bytes "
         "(CRC or signature); place it outside the image"},
        {{"--serial-number", "100", "--serial-number-at", "0x8000", "--serial-number-format", "ascii:2"},
         "--serial-number: 100 does not fit ascii:2"},
        {{"--serial-number", "0x100000000", "--serial-number-at", "0x8000"},
         "--serial-number: 4294967296 does not fit u32le"},
        {{"--serial-number", "1:0", "--serial-number-at", "0x8000"},
         "--serial-number: '1:0' is not FIRST[:STEP] (whole numbers, STEP from 1)"},
        {{"--serial-number", "1", "--serial-number-at", "0x8000", "--serial-number-format", "u16"},
         "--serial-number-format: 'u16' is not u32le, u32be, u64le, ascii:N or hex:N"},
        {{"--serial-number", "1"}, "--serial-number and --serial-number-at go together"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const auto run = Run(ProgramLine({0}, c.args));
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(state));
        EXPECT_FALSE(std::filesystem::exists(log));
        EXPECT_EQ(test::ReadFileBytes(folder / "board0.bin"), flash);
    }
    // A state file that is something else is left as it was, and no board is touched.
    test::WriteTextFile(state, "next=5\n");
    const auto run = Run(ProgramLine({0}, {"--serial-number", "1", "--serial-number-at", "0x8000"}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("--serial-number-state: " + state.string() + " is not a serial-number state file"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(test::ReadFileBytes(folder / "board0.bin"), flash);
}

// The run killed at a random moment, again and again: no number is ever given twice, every
// record but a torn last line parses, and every number recorded passed has its record.
TEST_F(ProductionLineSim, KilledAtAnyMomentNoNumberTwiceNoBrokenRecord) {
    AddBoard();
    AddBoard();
    std::mt19937 random(std::random_device{}());
    const int signals[] = {SIGKILL, SIGTERM, SIGINT};
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<std::string> argv = {"/usr/bin/env", "TAVREL_WORK_DIR=" + folder.path().string(), "TAVREL_SIM_CONFIG="};
        const auto line = ProgramLine({0, 1}, {"--serial-number", "1", "--serial-number-at", "0x1010"});
        argv.insert(argv.end(), line.begin(), line.end());
        test::BackgroundProcess run(argv);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 900)(random)));
        run.Signal(signals[round % 3]);
        run.Wait();
        // A board process a killed parent left behind ends its own run before the next round.
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 3 == 0 ? 1500 : 0));
    }
    const auto records = LogRecords(log);
    std::set<uint64_t> logged;
    for (const auto& record : records) {
        ASSERT_TRUE(record["identity"].is_object()) << record.dump();
        EXPECT_TRUE(logged.insert(record["identity"]["serial_number"].get<uint64_t>()).second) << record.dump();
    }
    if (!std::filesystem::exists(state)) return;  // every round was killed before it took a number
    const json saved = State();
    ASSERT_FALSE(saved.is_discarded());
    std::set<uint64_t> given;
    for (const auto& entry : saved["numbers"]) {
        const uint64_t number = entry["number"];
        EXPECT_TRUE(given.insert(number).second) << "number " << number << " given twice";
        EXPECT_LT(number, saved["next"].get<uint64_t>());
        if (entry["status"] != "issued") {
            EXPECT_EQ(logged.count(number), 1u) << "number " << number << " has no record";
        }
    }
    for (uint64_t number : logged) EXPECT_EQ(given.count(number), 1u) << number;
}

}  // namespace
}  // namespace tavrel
