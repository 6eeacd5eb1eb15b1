#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "HexFiles.h"
#include "Recorders.h"
#include "model/HexParser.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

struct Conversion {
    bool ok = false;
    std::vector<uint8_t> first;
    std::vector<uint8_t> second;
    SegmentList firstList;
    SegmentList secondList;
    std::vector<std::string> messages;
    std::vector<std::string> details;
    int failedLine = 0;
};

class HexParserTest : public ::testing::Test {
protected:
    Conversion Convert(const std::string& text, bool withSecond = true,
                       CHexParser::SplitRule rule = CHexParser::SplitRule::Always, const std::string& family = "") {
        WriteTextFile(dir / "image.hex", text);
        Conversion result;
        CHexParser parser(prompt, rule);
        const std::string second = withSecond ? (dir / "flash.bin").string() : std::string();
        result.ok = parser.ConvertHexToBinary((dir / "image.hex").string(), (dir / "sram.bin").string(), second,
                                              result.firstList, withSecond ? &result.secondList : nullptr, family);
        result.failedLine = parser.FailedLine();
        result.first = ReadFileBytes(dir / "sram.bin");
        if (withSecond) result.second = ReadFileBytes(dir / "flash.bin");
        result.messages = prompt.messages;
        result.details = prompt.details;
        ExpectSameInMemory(text, withSecond, rule, family, result);
        return result;
    }

    // The in-memory entry converts the same text to the same bytes, runs, messages and line.
    static void ExpectSameInMemory(const std::string& text, bool withSecond, CHexParser::SplitRule rule,
                                   const std::string& family, const Conversion& fromFile) {
        RecordingPrompt memoryPrompt;
        CHexParser parser(memoryPrompt, rule);
        std::vector<uint8_t> first = {0xEE}, second = {0xEE};  // replaced, not appended to
        SegmentList firstList, secondList;
        const bool ok = parser.ConvertHexText(text, first, withSecond ? &second : nullptr, firstList,
                                              withSecond ? &secondList : nullptr, family);
        EXPECT_EQ(ok, fromFile.ok);
        EXPECT_EQ(parser.FailedLine(), fromFile.failedLine);
        EXPECT_EQ(first, fromFile.first);
        if (withSecond) {
            EXPECT_EQ(second, fromFile.second);
        }
        EXPECT_EQ(memoryPrompt.messages, fromFile.messages);
        for (const auto& [memory, file] : {std::pair{&firstList, &fromFile.firstList},
                                           std::pair{&secondList, &fromFile.secondList}}) {
            EXPECT_EQ(memory->entryAddress, file->entryAddress);
            ASSERT_EQ(memory->runs.size(), file->runs.size());
            for (size_t i = 0; i < memory->runs.size(); ++i) {
                EXPECT_EQ(memory->runs[i].startAddress, file->runs[i].startAddress);
                EXPECT_EQ(memory->runs[i].length, file->runs[i].length);
                EXPECT_EQ(memory->runs[i].region, file->runs[i].region);
            }
        }
    }

    static void ExpectRun(const ImageSegment& run, uint32_t start, int32_t length, uint32_t region) {
        EXPECT_EQ(run.startAddress, start);
        EXPECT_EQ(run.length, length);
        EXPECT_EQ(run.region, region);
    }

    TempDir dir;
    RecordingPrompt prompt;
};

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST_F(HexParserTest, WorkedExampleGivesOneRunWithTheEntryAddress) {
    const auto bytes = PatternBytes(48);
    const std::string text = HexImage(0, bytes) + HexStartLinear(0xC1) + "\n" + HexEnd() + "\n";
    const Conversion c = Convert(text);
    EXPECT_TRUE(c.ok);
    EXPECT_TRUE(c.messages.empty());
    EXPECT_EQ(c.first, bytes);
    EXPECT_TRUE(c.second.empty());
    ASSERT_EQ(c.firstList.runs.size(), 1u);
    ExpectRun(c.firstList.runs[0], 0, 48, 0);
    EXPECT_EQ(c.firstList.entryAddress, 0xC1u);
    EXPECT_EQ(c.firstList.Head().entryAddress, 0xC1u);
    EXPECT_TRUE(c.secondList.empty());
}

TEST_F(HexParserTest, ExternalFlashWindowGoesToTheSecondOutputAndList) {
    const auto sramA = PatternBytes(32, 1);
    const auto flash = PatternBytes(40, 100);
    const auto sramB = PatternBytes(16, 200);
    const std::string text = HexImage(0x00100000, sramA) + HexImage(0x1F000100, flash) + HexImage(0x00100800, sramB) +
                             HexStartLinear(0x00100101) + "\n" + HexEnd() + "\n";
    const Conversion c = Convert(text);
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.first, Concat(sramA, sramB));
    EXPECT_EQ(c.second, flash);
    ASSERT_EQ(c.firstList.runs.size(), 2u);
    ExpectRun(c.firstList.runs[0], 0x00100000, 32, 0);
    ExpectRun(c.firstList.runs[1], 0x00100800, 16, 0);
    ASSERT_EQ(c.secondList.runs.size(), 1u);
    ExpectRun(c.secondList.runs[0], 0x1F000100, 40, 1);
    EXPECT_EQ(c.firstList.entryAddress, 0x00100101u);
    EXPECT_EQ(c.secondList.entryAddress, 0u);
}

TEST_F(HexParserTest, GapsAndWrapsOpenNewRunsWithoutFiller) {
    // A gap inside one extended-address region, then a record at 0x0000 after 0xFFF0 with no new
    // extended address record: (upper << 16) | 0.
    const auto a = PatternBytes(16, 0);
    const auto b = PatternBytes(16, 50);
    const auto c16 = PatternBytes(16, 90);
    const auto d = PatternBytes(16, 130);
    const std::string text = HexExtendedLinear(0x0002) + "\n" + HexLine(0, 0x0100, a) + "\n" + HexLine(0, 0x0200, b) +
                             "\n" + HexLine(0, 0xFFF0, c16) + "\n" + HexLine(0, 0x0000, d) + "\n" +
                             HexStartLinear(0x20100) + "\n" + HexEnd() + "\n";
    const Conversion c = Convert(text);
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.first, Concat(Concat(Concat(a, b), c16), d));
    ASSERT_EQ(c.firstList.runs.size(), 4u);
    ExpectRun(c.firstList.runs[0], 0x20100, 16, 0);
    ExpectRun(c.firstList.runs[1], 0x20200, 16, 0);
    ExpectRun(c.firstList.runs[2], 0x2FFF0, 16, 0);
    ExpectRun(c.firstList.runs[3], 0x20000, 16, 0);
}

namespace {

// Records of a test file, with the bytes each output must receive in file order.
struct Records {
    std::string text;
    std::vector<uint8_t> bytes[2];
    int region = 0;
    uint8_t seed = 1;

    Records& Linear(uint16_t upper) {
        text += HexExtendedLinear(upper) + "\n";
        region = (upper >> 8) == 0x1F ? 1 : 0;
        return *this;
    }
    Records& Segment(uint16_t base) {
        text += HexLine(2, 0, {static_cast<uint8_t>(base >> 8), static_cast<uint8_t>(base)}) + "\n";
        region = 0;
        return *this;
    }
    Records& Data(uint16_t offset, size_t count) {
        const std::vector<uint8_t> data = PatternBytes(count, seed);
        seed = static_cast<uint8_t>(seed + 40);
        text += HexLine(0, offset, data) + "\n";
        bytes[region].insert(bytes[region].end(), data.begin(), data.end());
        return *this;
    }
    Records& Start(uint32_t entry) {
        text += HexStartLinear(entry) + "\n";
        return *this;
    }
    Records& End() {
        text += HexEnd() + "\n";
        return *this;
    }
};

struct RunSpan {
    uint32_t start;
    int32_t length;
    bool operator==(const RunSpan&) const = default;
};

std::vector<RunSpan> Runs(const SegmentList& list) {
    std::vector<RunSpan> runs;
    for (const ImageSegment& run : list.runs) runs.push_back({run.startAddress, run.length});
    return runs;
}

void PrintTo(const RunSpan& run, std::ostream* out) { *out << std::hex << "{0x" << run.start << ", " << std::dec << run.length << "}"; }

}  // namespace

TEST_F(HexParserTest, EveryRunStartsAtItsFirstByteWhateverTheRecordOrder) {
    struct Case {
        const char* name;
        Records records;
        std::vector<RunSpan> first;
        std::vector<RunSpan> second;
        uint32_t entry;
    };
    const Case cases[] = {
        {"two extended linear records in a row",
         Records().Linear(0x0010).Linear(0x0020).Data(0x0100, 16).Data(0x0110, 16).Data(0x0200, 8).End(),
         {{0x00200100, 32}, {0x00200200, 8}}, {}, 0},
        {"three in a row, then data at offset 0",
         Records().Linear(0x0001).Linear(0x0002).Linear(0x0010).Data(0x0000, 16).Data(0x0040, 4).Start(0x00100000).End(),
         {{0x00100000, 16}, {0x00100040, 4}}, {}, 0x00100000},
        {"extended linear then extended segment",
         Records().Linear(0x0010).Segment(0x1000).Data(0x0010, 16).Data(0x0020, 4).End(),
         {{0x00010010, 20}}, {}, 0},
        {"segment addressing throughout",
         Records().Segment(0x1000).Data(0x0000, 16).Data(0x0010, 16).Segment(0x2000).Data(0x0004, 8).End(),
         {{0x00010000, 32}, {0x00020004, 8}}, {}, 0},
        {"extended address record after a gap",
         Records().Data(0x0000, 8).Data(0x0100, 8).Linear(0x0003).Data(0x0010, 8).Linear(0x0004).Linear(0x0005)
             .Data(0x0020, 4).End(),
         {{0x00000000, 8}, {0x00000100, 8}, {0x00030010, 8}, {0x00050020, 4}}, {}, 0},
        {"start record between the extended address and the data",
         Records().Linear(0x0010).Start(0x00100101).Data(0x0000, 16).Data(0x0010, 16).End(),
         {{0x00100000, 32}}, {}, 0x00100101},
        {"start record mid-file, then more regions",
         Records().Linear(0x0010).Data(0x0000, 16).Start(0x00100001).Linear(0x0011).Linear(0x0012).Data(0x0080, 8)
             .Linear(0x1F00).Linear(0x1F01).Data(0x0000, 16).End(),
         {{0x00100000, 16}, {0x00120080, 8}}, {{0x1F010000, 16}}, 0x00100001},
        {"wrap past 0xFFFF without a new extended address record",
         Records().Linear(0x0002).Data(0xFFF0, 16).Data(0x0000, 16).Linear(0x0002).Linear(0x0003).Data(0xFFF8, 8)
             .Data(0x0000, 8).End(),
         {{0x0002FFF0, 16}, {0x00020000, 16}, {0x0003FFF8, 8}, {0x00030000, 8}}, {}, 0},
        {"external window after two extended records",
         Records().Linear(0x0010).Data(0x0000, 8).Linear(0x0000).Linear(0x1F00).Data(0x0100, 16).Data(0x0110, 16)
             .Data(0x0400, 4).End(),
         {{0x00100000, 8}}, {{0x1F000100, 32}, {0x1F000400, 4}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompt.messages.clear();
        const Conversion converted = Convert(c.records.text);
        EXPECT_TRUE(converted.ok);
        EXPECT_TRUE(converted.messages.empty());
        EXPECT_EQ(Runs(converted.firstList), c.first);
        EXPECT_EQ(Runs(converted.secondList), c.second);
        EXPECT_EQ(converted.first, c.records.bytes[0]);
        EXPECT_EQ(converted.second, c.records.bytes[1]);
        EXPECT_EQ(converted.firstList.entryAddress, c.entry);
    }
}

TEST_F(HexParserTest, LowerCaseDigits) {
    std::string text = HexImage(0x100, PatternBytes(16, 0xA0)) + HexEnd() + "\n";
    for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const Conversion c = Convert(text);
    EXPECT_TRUE(c.ok) << (c.messages.empty() ? "" : c.messages[0]);
    EXPECT_EQ(c.first, PatternBytes(16, 0xA0));
    ASSERT_EQ(c.firstList.runs.size(), 1u);
    ExpectRun(c.firstList.runs[0], 0x100, 16, 0);
}

// What no tool writes is refused, with the file and the line for the command line: a file cut
// short at a line end, anything after the end record, a record longer than its byte count, data
// past 4 GiB, and an address written twice.
TEST_F(HexParserTest, StrictReadingRefusesWhatNoToolWrites) {
    const std::string end = HexEnd() + "\n";
    std::string longer = HexLine(0, 0, {1, 2, 3, 4});
    longer.insert(longer.size() - 2, "05");
    struct Case {
        const char* name;
        std::string text;
        int line;
        std::string detail;  // after "PATH: line N: "
    };
    const Case cases[] = {
        {"cut at a line end", HexImage(0x100, PatternBytes(64)), 5,
         "the file ends without its end-of-file record (:00000001FF); it may be cut short"},
        {"a record after the end record", HexImage(0x100, PatternBytes(16)) + end + HexLine(0, 0x200, {1, 2}) + "\n", 4,
         "a record follows the end-of-file record of line 3"},
        {"a blank line after the end record", HexImage(0x100, PatternBytes(16)) + end + "\n", 4,
         "a record follows the end-of-file record of line 3"},
        {"a second end record", HexImage(0x100, PatternBytes(16)) + end + end, 4,
         "a record follows the end-of-file record of line 3"},
        {"more data than its byte count", longer + "\n" + end, 1,
         "the record holds more data than its byte count (0x04)"},
        {"an end record with data", HexImage(0x100, PatternBytes(16)) + HexLine(1, 0, {0}) + "\n", 3,
         "the end-of-file record holds data"},
        {"data past 4 GiB", HexExtendedLinear(0xFFFF) + "\n" + HexLine(0, 0xFFF8, PatternBytes(16)) + "\n" + end, 2,
         "the data runs past the end of the 4 GiB address space (16 bytes from 0xFFFFFFF8)"},
        {"an address written twice", HexImage(0x100, PatternBytes(16)) + HexLine(0, 0x10C, PatternBytes(8)) + "\n" + end, 3,
         "the record writes 0x0000010C again: an earlier record wrote it already"},
        {"the same address through another extended address",
         HexExtendedLinear(0) + "\n" + HexLine(0, 0xFFF8, PatternBytes(16)) + "\n" + HexExtendedLinear(1) + "\n" +
             HexLine(0, 0x0004, PatternBytes(4)) + "\n" + end,
         4, "the record writes 0x00010004 again: an earlier record wrote it already"},
    };
    const std::string path = (dir / "image.hex").string();
    for (const Case& bad : cases) {
        SCOPED_TRACE(bad.name);
        prompt.messages.clear();
        prompt.details.clear();
        const Conversion c = Convert(bad.text);
        EXPECT_FALSE(c.ok);
        EXPECT_EQ(c.messages, std::vector<std::string>{" Error in .hex file format "});
        EXPECT_EQ(c.failedLine, bad.line);
        EXPECT_EQ(c.details, std::vector<std::string>{path + ": line " + std::to_string(bad.line) + ": " + bad.detail});
    }
}

// An image without a byte of data is no image: programming it would erase the flash for nothing.
TEST_F(HexParserTest, AFileWithoutDataIsRefused) {
    const std::string end = HexEnd() + "\n";
    const std::string texts[] = {"", end, HexExtendedLinear(0x0010) + "\n" + HexStartLinear(0x100000) + "\n" + end,
                                 HexLine(0, 0x100, {}) + "\n" + end};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        prompt.messages.clear();
        prompt.details.clear();
        const Conversion c = Convert(text);
        EXPECT_FALSE(c.ok);
        EXPECT_EQ(c.messages, std::vector<std::string>{"The .hex file holds no data"});
        EXPECT_EQ(c.details, std::vector<std::string>{(dir / "image.hex").string() + ": the file holds no data record"});
        EXPECT_EQ(c.failedLine, 0);
        EXPECT_TRUE(c.first.empty());
        EXPECT_TRUE(c.firstList.empty());
    }
    CHexParser parser(prompt);
    SegmentList first;
    WriteTextFile(dir / "empty.hex", "");
    EXPECT_FALSE(parser.ConvertHexToBinary((dir / "empty.hex").string(), (dir / "out.bin").string(), "", first,
                                           nullptr, ""));
    EXPECT_EQ(parser.LastFailure(), HexFailure::NoData);
}

// A folder, a FIFO or a device named as the HEX file is refused before it is read: a folder
// read as text gives no line at all, a FIFO would wait for a writer.
TEST_F(HexParserTest, APathThatIsNotAFileIsRefusedBeforeItIsRead) {
    std::filesystem::create_directories(dir / "folder.hex");
    ASSERT_EQ(mkfifo((dir / "fifo.hex").c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {(dir / "folder.hex").string(), "it is a folder, not a file"},
        {(dir / "fifo.hex").string(), "it is a FIFO, not a file"},
        {"/dev/zero", "it is a device, not a file"},
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path);
        prompt.messages.clear();
        CHexParser parser(prompt);
        SegmentList first;
        EXPECT_FALSE(parser.ConvertHexToBinary(path, (dir / "out.bin").string(), "", first, nullptr, ""));
        EXPECT_EQ(parser.LastFailure(), HexFailure::SourceUnreadable);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{"Cannot open the file " + path + ": " + reason});
    }
}

TEST_F(HexParserTest, FirstRunWithoutExtendedAddressRecord) {
    // Not at offset 0: starts at its offset, no empty run in front of it.
    Conversion c = Convert(HexLine(0, 0x0040, PatternBytes(8)) + "\n" + HexEnd() + "\n");
    EXPECT_TRUE(c.ok);
    ASSERT_EQ(c.firstList.runs.size(), 1u);
    ExpectRun(c.firstList.runs[0], 0x40, 8, 0);

    // At offset 0: starts at 0 and is listed when the next extended address record arrives.
    c = Convert(HexLine(0, 0x0000, PatternBytes(8)) + "\n" + HexExtendedLinear(0x0001) + "\n" +
                HexLine(0, 0x0000, PatternBytes(4)) + "\n" + HexEnd() + "\n");
    EXPECT_TRUE(c.ok);
    ASSERT_EQ(c.firstList.runs.size(), 2u);
    ExpectRun(c.firstList.runs[0], 0, 8, 0);
    ExpectRun(c.firstList.runs[1], 0x10000, 4, 0);
}

TEST_F(HexParserTest, ListIsCompletedWithoutAStartAddressRecord) {
    const Conversion c = Convert(HexImage(0x1F000000, PatternBytes(20)) + HexImage(0x00100000, PatternBytes(24)) +
                                 HexEnd() + "\n");
    EXPECT_TRUE(c.ok);
    ASSERT_EQ(c.secondList.runs.size(), 1u);
    ASSERT_EQ(c.firstList.runs.size(), 1u);
    ExpectRun(c.firstList.runs[0], 0x00100000, 24, 0);
    EXPECT_EQ(c.firstList.entryAddress, 0u);
}

TEST_F(HexParserTest, StartRecordInTheMiddleDoesNotRepeatTheRun) {
    // The run stored by the start record keeps growing with the records that follow it.
    const std::string text = HexExtendedLinear(0x0010) + "\n" + HexLine(0, 0, PatternBytes(16)) + "\n" +
                             HexStartLinear(0x00100001) + "\n" + HexLine(0, 0x10, PatternBytes(16, 16)) + "\n" +
                             HexLine(0, 0x40, PatternBytes(4)) + "\n" + HexEnd() + "\n";
    const Conversion c = Convert(text);
    EXPECT_TRUE(c.ok);
    ASSERT_EQ(c.firstList.runs.size(), 2u);
    ExpectRun(c.firstList.runs[0], 0x00100000, 32, 0);
    ExpectRun(c.firstList.runs[1], 0x00100040, 4, 0);
    EXPECT_EQ(c.firstList.entryAddress, 0x00100001u);
}

TEST_F(HexParserTest, SegmentAddressingAndStartSegmentRecord) {
    // Type 02: upper x 16 + offset; a segment value of 0x1F00 is still below the external window.
    // Type 03 keeps the low 16 bits of its 32-bit field.
    const std::string text = HexLine(2, 0, {0x1F, 0x00}) + "\n" + HexLine(0, 0x0010, PatternBytes(8)) + "\n" +
                             HexLine(3, 0, {0x12, 0x34, 0x56, 0x78}) + "\n" + HexEnd() + "\n";
    const Conversion c = Convert(text);
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.first.size(), 8u);
    EXPECT_TRUE(c.second.empty());
    ASSERT_EQ(c.firstList.runs.size(), 1u);
    ExpectRun(c.firstList.runs[0], 0x1F010, 8, 0);
    EXPECT_EQ(c.firstList.runs[0].addressMode, 1u);
    EXPECT_EQ(c.firstList.runs[0].upperAddress, 0x1F00u);
    EXPECT_EQ(c.firstList.entryAddress, 0x5678u);
}

TEST_F(HexParserTest, MalformedLinesStopTheConversionWithTheirMessage) {
    const std::string good = HexLine(0, 0, PatternBytes(4)) + "\n";
    std::string badChecksum = HexLine(0, 4, PatternBytes(4));
    badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
    std::string nonHexInData = HexLine(0, 4, PatternBytes(4));
    nonHexInData[10] = 'G';
    struct Case {
        const char* name;
        std::string line;
        const char* message;
    };
    const Case cases[] = {
        {"no colon", HexLine(0, 4, PatternBytes(4)).substr(1), " Error in .hex file format "},
        {"empty line", "", " Error in .hex file format "},
        {"shorter than its byte count", ":10000400000102030405D0", " Error in .hex file format "},
        {"too short for any record", ":0000", " Error in .hex file format "},
        {"non-hex digit", nonHexInData, " Error in .hex file format "},
        {"space in the line", ":04 000400010203F0", " Error in .hex file format "},
        {"wrong checksum", badChecksum, "Record wrong message"},
    };
    for (const Case& bad : cases) {
        SCOPED_TRACE(bad.name);
        prompt.messages.clear();
        prompt.details.clear();
        const Conversion c = Convert(good + bad.line + "\n" + HexLine(0, 8, PatternBytes(4)) + "\n");
        EXPECT_FALSE(c.ok);
        ASSERT_EQ(c.messages.size(), 1u);
        EXPECT_EQ(c.messages[0], bad.message);
        EXPECT_EQ(c.failedLine, 2);
        ASSERT_EQ(c.details.size(), 1u);
        EXPECT_EQ(c.details[0].rfind((dir / "image.hex").string() + ": line 2: ", 0), 0u) << c.details[0];
        EXPECT_EQ(c.first, PatternBytes(4));  // what came before stays; nothing after
    }
}

TEST_F(HexParserTest, ParseHexRecordFields) {
    CHexParser parser(prompt);
    HexRecord record;
    ASSERT_TRUE(parser.ParseHexRecord(HexLine(0, 0x1234, {0xDE, 0xAD}), record));
    EXPECT_EQ(record.byteCount, 2);
    EXPECT_EQ(record.addressText, "1234");
    EXPECT_EQ(record.address, 0x1234);
    EXPECT_EQ(record.recordType, 0);
    EXPECT_EQ(record.dataText, "DEAD");
    EXPECT_EQ(record.data, (std::vector<uint8_t>{0xDE, 0xAD}));
    // A Windows line end left on the line is part of it only if the caller keeps it.
    EXPECT_FALSE(parser.ParseHexRecord(HexLine(0, 0, {1}) + "\r", record));
    EXPECT_TRUE(prompt.messages.size() == 1);
}

TEST_F(HexParserTest, CrLfLinesAndNoFinalLineEnd) {
    std::string text = HexImage(0x10, PatternBytes(32));
    std::string crlf;
    for (char ch : text) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    const Conversion c = Convert(crlf + HexEnd());
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.first, PatternBytes(32));
}

TEST_F(HexParserTest, ExternalDataWithoutSecondOutputIsRefused) {
    const std::string text = HexImage(0x00100000, PatternBytes(8)) + HexImage(0x1F000000, PatternBytes(8, 9)) +
                             HexEnd() + "\n";
    const Conversion c = Convert(text, false);
    EXPECT_FALSE(c.ok);
    ASSERT_EQ(c.messages.size(), 1u);
    EXPECT_EQ(c.messages[0], "The .hex file has data for the external flash (0x1F000000-0x1FFFFFFF), which this image cannot hold");
    EXPECT_EQ(c.first, PatternBytes(8));  // none of the window's bytes landed in the first output
}

TEST_F(HexParserTest, OutputsThatCannotBeWrittenSayWhyAndDoNotBlameTheHexFile) {
    WriteTextFile(dir / "image.hex", HexImage(0x00100000, PatternBytes(64)) + HexEnd() + "\n");
    struct Case {
        const char* name;
        std::string first;
        std::string message;
    };
    // /dev/full takes the file but not its bytes; /sys refuses new files even to root.
    const Case cases[] = {
        {"no space", "/dev/full", "Cannot write the file /dev/full: No space left on device"},
        {"no permission", "/sys/tavrel-hex-test.bin", "Cannot create the file /sys/tavrel-hex-test.bin: Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompt.messages.clear();
        prompt.icons.clear();
        CHexParser parser(prompt);
        SegmentList first;
        EXPECT_FALSE(parser.ConvertHexToBinary((dir / "image.hex").string(), c.first, "", first, nullptr, ""));
        EXPECT_EQ(parser.LastFailure(), HexFailure::Output);
        EXPECT_EQ(parser.FailedLine(), 0);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(prompt.icons, std::vector<MessageIcon>{MessageIcon::Error});
    }
    CHexParser parser(prompt);
    SegmentList first;
    EXPECT_TRUE(parser.ConvertHexToBinary((dir / "image.hex").string(), (dir / "out.bin").string(), "", first, nullptr, ""));
    EXPECT_EQ(parser.LastFailure(), HexFailure::None);
    EXPECT_FALSE(parser.ConvertHexToBinary((dir / "none.hex").string(), (dir / "out.bin").string(), "", first, nullptr, ""));
    EXPECT_EQ(parser.LastFailure(), HexFailure::SourceUnreadable);
    EXPECT_EQ(prompt.messages.back(), "Cannot open the file " + (dir / "none.hex").string() + ": No such file or directory");
}

// Into save files through their writers (hex2bin): a work file swapped by name between its
// exclusive create and the write (a link to another file planted in its place) is not written
// through, and the output is not replaced.
TEST_F(HexParserTest, ConvertsIntoSaveFilesOnlyThroughTheirWriters) {
    const auto code = PatternBytes(300, 4), external = PatternBytes(40, 8);
    WriteTextFile(dir / "image.hex",
                  HexImage(0x00100000, code) + HexImage(0x1F000000, external) + HexEnd() + "\n");
    WriteFileBytes(dir / "victim.bin", {9});
    for (const bool swapped : {false, true}) {
        SCOPED_TRACE(swapped ? "swapped" : "as created");
        WriteFileBytes(dir / "out.bin", {1});
        WriteFileBytes(dir / "flash.bin", {2});
        SaveFileWriter first, second;
        std::string detail;
        ASSERT_TRUE(first.Open(dir / "out.bin", detail) && second.Open(dir / "flash.bin", detail)) << detail;
        if (swapped) {
            std::filesystem::remove(first.workPath());
            std::filesystem::create_symlink(dir / "victim.bin", first.workPath());
        }
        CHexParser parser(prompt);
        SaveFileSink firstSink(first), secondSink(second);
        SegmentList firstList, secondList;
        ASSERT_TRUE(parser.ConvertImageFile((dir / "image.hex").string(), firstSink, &secondSink, firstList,
                                            &secondList, ""));
        EXPECT_EQ(ReadFileBytes(dir / "victim.bin"), std::vector<uint8_t>{9});
        EXPECT_EQ(first.Commit(detail), !swapped) << detail;
        ASSERT_TRUE(second.Commit(detail)) << detail;
        EXPECT_EQ(ReadFileBytes(dir / "out.bin"), swapped ? std::vector<uint8_t>{1} : code);
        EXPECT_EQ(ReadFileBytes(dir / "flash.bin"), external);
        EXPECT_EQ(ReadFileBytes(dir / "victim.bin"), std::vector<uint8_t>{9});
        ASSERT_EQ(firstList.runs.size(), 1u);
        ExpectRun(firstList.runs[0], 0x00100000, 300, 0);
        EXPECT_EQ(TemporaryFilesIn(dir.path()), std::vector<std::string>{});
    }
}

TEST_F(HexParserTest, GeneratorRuleSplitsOnlyForKR2A600) {
    const std::string text = HexImage(0x00100000, PatternBytes(8)) + HexImage(0x1F000000, PatternBytes(8, 9)) +
                             HexEnd() + "\n";
    Conversion c = Convert(text, true, CHexParser::SplitRule::KR2A600Only, "KR2A600");
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.second, PatternBytes(8, 9));
    ASSERT_EQ(c.secondList.runs.size(), 1u);

    c = Convert(text, true, CHexParser::SplitRule::KR2A600Only, "KR2H70X");
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.first, Concat(PatternBytes(8), PatternBytes(8, 9)));
    EXPECT_TRUE(c.second.empty());
    ASSERT_EQ(c.firstList.runs.size(), 2u);
    ExpectRun(c.firstList.runs[1], 0x1F000000, 8, 0);
}

TEST_F(HexParserTest, MissingFileGivesEmptyOutputsAndUntouchedLists) {
    CHexParser parser(prompt);
    SegmentList first;
    first.runs.push_back({.startAddress = 7, .length = 1});
    SegmentList second;
    EXPECT_FALSE(parser.ConvertHexToBinary((dir / "missing.hex").string(), (dir / "a.bin").string(),
                                           (dir / "b.bin").string(), first, &second, ""));
    EXPECT_EQ(prompt.messages.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(dir / "a.bin"));
    EXPECT_EQ(std::filesystem::file_size(dir / "a.bin"), 0u);
    EXPECT_EQ(std::filesystem::file_size(dir / "b.bin"), 0u);
    ASSERT_EQ(first.runs.size(), 1u);
    EXPECT_EQ(first.runs[0].startAddress, 7u);
}

TEST_F(HexParserTest, LargeFileCrossesReadBuffers) {
    // About 2.5 MB of text: many lines straddle the reader's buffer boundaries.
    const auto bytes = PatternBytes(1 << 20, 3);
    const Conversion c = Convert(HexImage(0x00100000, bytes, 32) + HexStartLinear(0x00100000) + "\n" + HexEnd());
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.first, bytes);
    ASSERT_EQ(c.firstList.runs.size(), 16u);  // one run per 64 KiB extended-address record
    EXPECT_EQ(c.firstList.runs[15].startAddress, 0x001F0000u);
}

TEST(HexParserHelpers, HexPairToByteAndFindSubstring) {
    EXPECT_EQ(CHexParser::HexPairToByte('0', '0'), 0x00);
    EXPECT_EQ(CHexParser::HexPairToByte('9', 'F'), 0x9F);
    EXPECT_EQ(CHexParser::HexPairToByte('a', 'b'), 0xAB);
    EXPECT_EQ(CHexParser::HexPairToByte('F', 'f'), 0xFF);

    EXPECT_EQ(CHexParser::FindSubstring(0, "OFFSET_BIN:0;ADDR", ":"), 10);
    EXPECT_EQ(CHexParser::FindSubstring(11, "OFFSET_BIN:0;ADDR:1", ":"), 17);
    EXPECT_EQ(CHexParser::FindSubstring(0, "abc", "x"), -1);
    EXPECT_EQ(CHexParser::FindSubstring(5, "abc", "a"), -1);
    EXPECT_EQ(CHexParser::FindSubstring(3, "abc", ""), 3);

    SegmentList list;
    list.runs.resize(3);
    list.entryAddress = 5;
    EXPECT_TRUE(CHexParser::FreeSegmentList(list));
    EXPECT_TRUE(list.empty());
}
