// The production line's own parts: identities and their formats, the serial-number state file
// under several processes at once, and the log's torn last line.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

#include "Recorders.h"
#include "production/Identity.h"
#include "production/ProductionLog.h"
#include "production/SerialNumberState.h"

namespace tavrel::production {
namespace {

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SerialFormat, EncodesEachFormatAndRefusesWhatDoesNotFit) {
    const struct {
        const char* format;
        uint64_t number;
        std::optional<std::vector<uint8_t>> bytes;
    } cases[] = {
        {"u32le", 0x12345678, std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}},
        {"u32be", 0x12345678, std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}},
        {"u32le", 0xFFFFFFFFull, std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}},
        {"u32le", 0x100000000ull, std::nullopt},
        {"u64le", 0x0102030405060708ull, std::vector<uint8_t>{8, 7, 6, 5, 4, 3, 2, 1}},
        {"ascii:6", 1234, std::vector<uint8_t>{'0', '0', '1', '2', '3', '4'}},
        {"ascii:3", 1234, std::nullopt},
        {"ascii:4", 1234, std::vector<uint8_t>{'1', '2', '3', '4'}},
        {"hex:4", 0xBEEF, std::vector<uint8_t>{'B', 'E', 'E', 'F'}},
        {"hex:3", 0xBEEF, std::nullopt},
        {"hex:1", 0, std::vector<uint8_t>{'0'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.number));
        const auto format = ParseSerialFormat(c.format);
        ASSERT_TRUE(format);
        EXPECT_EQ(EncodeSerial(c.number, *format), c.bytes);
    }
    for (const char* wrong : {"", "u16", "ascii:", "ascii:0", "ascii:65", "hex:x", "ascii:-1", "U32LE"})
        EXPECT_FALSE(ParseSerialFormat(wrong)) << wrong;
}

TEST(SerialCounter, ReadsFirstAndStep) {
    EXPECT_EQ(ParseSerialCounter("1000")->first, 1000u);
    EXPECT_EQ(ParseSerialCounter("1000")->step, 1u);
    EXPECT_EQ(ParseSerialCounter("0x10:0x10")->first, 16u);
    EXPECT_EQ(ParseSerialCounter("0x10:0x10")->step, 16u);
    EXPECT_EQ(ParseSerialCounter("18446744073709551615")->first, UINT64_MAX);
    for (const char* wrong : {"", ":1", "1:", "1:0", "-1", "1.5", "18446744073709551616", "0x", "12ab", "1:2:3"})
        EXPECT_FALSE(ParseSerialCounter(wrong)) << wrong;
}

TEST(IdentityPlace, InsideTheErasedRangeAndOutsideTheBootHeader) {
    const std::vector<FlashRange> sectors = {{0x1000, 0x2000}, {0x2000, 0x3000}};
    const FlashRange header{0, 0x1000};
    const auto at = [](uint32_t address, size_t size) { return Identity{address, std::vector<uint8_t>(size), "1"}; };
    EXPECT_EQ(CheckIdentityPlace(at(0x1000, 4), sectors, header), "");
    EXPECT_EQ(CheckIdentityPlace(at(0x1FFE, 4), sectors, header), "");  // over two sectors erased together
    EXPECT_EQ(CheckIdentityPlace(at(0x2FFC, 4), sectors, header), "");
    EXPECT_EQ(CheckIdentityPlace(at(0x2FFE, 4), sectors, header),
              "the identity at 0x2FFE-0x3001 lies outside the flash the run erases");
    EXPECT_EQ(CheckIdentityPlace(at(0xFFE, 4), sectors, header),
              "the identity at 0xFFE-0x1001 overlaps the boot header (0x0-0xFFF)");
    EXPECT_EQ(CheckIdentityPlace(at(0x20, 4), {{0, UINT64_MAX}}, FlashRange{0, 0x20}), "");
}

TEST(SerialNumberStateFile, SeveralProcessesNeverGetTheSameNumber) {
    test::TempDir folder;
    const auto file = folder / "serial.json";
    constexpr int kProcesses = 4, kRounds = 10;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        if (pid == 0) {
            // Each child writes the numbers it got, one a line.
            std::ofstream got(folder / ("got" + std::to_string(p)));
            for (int round = 0; round < kRounds; ++round) {
                std::vector<uint64_t> numbers;
                std::string error;
                if (!SerialNumberState(file).Allocate({500, 3}, {"a", "b"}, nullptr, numbers, error)) _exit(1);
                for (uint64_t number : numbers) {
                    got << number << "\n";
                    if (!SerialNumberState(file).Record(number, number % 2 ? "failed" : "passed", error)) _exit(1);
                }
            }
            got.flush();
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::set<uint64_t> all;
    for (int p = 0; p < kProcesses; ++p) {
        std::ifstream got(folder / ("got" + std::to_string(p)));
        for (uint64_t number; got >> number;) {
            EXPECT_TRUE(all.insert(number).second) << number << " given twice";
            EXPECT_EQ((number - 500) % 3, 0u);
        }
    }
    EXPECT_EQ(all.size(), size_t{kProcesses * kRounds * 2});
    uint64_t next = 0;
    std::vector<SerialNumberState::Entry> entries;
    std::string error;
    ASSERT_TRUE(SerialNumberState(file).Read(next, entries, error)) << error;
    EXPECT_EQ(next, 500 + 3 * all.size());
    ASSERT_EQ(entries.size(), all.size());
    for (const auto& entry : entries) EXPECT_EQ(entry.status, entry.number % 2 ? "failed" : "passed");
    EXPECT_EQ(test::TemporaryFilesIn(folder.path()), std::vector<std::string>{});
}

TEST(SerialNumberStateFile, ARefusedNumberOrABadFileChangesNothing) {
    test::TempDir folder;
    const auto file = folder / "serial.json";
    std::vector<uint64_t> numbers;
    std::string error;
    ASSERT_TRUE(SerialNumberState(file).Allocate({8, 1}, {"a"}, nullptr, numbers, error)) << error;
    const std::string before = ReadText(file);
    const auto upToNine = [](uint64_t number) { return number > 9 ? "past nine" : std::string(); };
    EXPECT_FALSE(SerialNumberState(file).Allocate({1, 1}, {"a", "b"}, upToNine, numbers, error));
    EXPECT_EQ(error, "past nine");
    EXPECT_TRUE(numbers.empty());
    EXPECT_EQ(ReadText(file), before);
    // A lower FIRST never goes back below the next free number; a higher one jumps ahead.
    ASSERT_TRUE(SerialNumberState(file).Allocate({1, 1}, {"a"}, nullptr, numbers, error));
    EXPECT_EQ(numbers, std::vector<uint64_t>{9});
    ASSERT_TRUE(SerialNumberState(file).Allocate({100, 1}, {"a"}, nullptr, numbers, error));
    EXPECT_EQ(numbers, std::vector<uint64_t>{100});
    EXPECT_FALSE(SerialNumberState(file).Record(50, "passed", error));
    EXPECT_EQ(error, file.string() + " has not given out number 50");

    test::WriteTextFile(file, "{\"next\": 5");
    EXPECT_FALSE(SerialNumberState(file).Allocate({1, 1}, {"a"}, nullptr, numbers, error));
    EXPECT_EQ(error, file.string() + " is not a serial-number state file");
    EXPECT_EQ(ReadText(file), "{\"next\": 5");
}

TEST(ProductionLogFile, ATornLastLineIsIgnoredAndCutBeforeTheNextRecord) {
    test::TempDir folder;
    const auto log = folder / "line.jsonl";
    std::string error;
    ASSERT_TRUE(AppendRecord(log, {{"board", "a"}, {"message", "two\nlines"}}, error)) << error;
    ASSERT_TRUE(AppendRecord(log, {{"board", "b"}}, error)) << error;
    // Power lost in the middle of the third record.
    std::ofstream(log, std::ios::app | std::ios::binary) << "{\"board\":\"c\",\"resu";
    std::vector<nlohmann::json> records;
    ASSERT_TRUE(ReadRecords(log, records, error)) << error;
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["message"], "two\nlines");
    ASSERT_TRUE(AppendRecord(log, {{"board", "d"}}, error)) << error;
    EXPECT_EQ(ReadText(log), "{\"board\":\"a\",\"message\":\"two\\nlines\"}\n{\"board\":\"b\"}\n{\"board\":\"d\"}\n");
    // A broken line in the middle is damage, not a torn end.
    test::WriteTextFile(log, "{\"board\":\"a\"}\n{\"bo\n{\"board\":\"b\"}\n");
    EXPECT_FALSE(ReadRecords(log, records, error));
    EXPECT_EQ(error, log.string() + ": line 2 is not a record");
}

TEST(ProductionLogFile, DigestOfTheImage) {
    test::TempDir folder;
    test::WriteTextFile(folder / "abc", "abc");
    std::string sha, error;
    uint64_t size = 0;
    ASSERT_TRUE(FileDigest(folder / "abc", sha, size, error));
    EXPECT_EQ(sha, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(size, 3u);
    EXPECT_FALSE(FileDigest(folder / "missing", sha, size, error));
    EXPECT_EQ(error, "cannot read " + (folder / "missing").string());
}

}  // namespace
}  // namespace tavrel::production
