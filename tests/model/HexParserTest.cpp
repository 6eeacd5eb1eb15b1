#include <gtest/gtest.h>

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
        return result;
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

TEST_F(HexParserTest, LowerCaseDigitsAndRecordsAfterTheEndRecord) {
    std::string text = HexImage(0x100, PatternBytes(16, 0xA0));
    for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    // Data after the end record is still converted; its gap makes a second run.
    text = HexEnd() + "\n" + text + HexLine(0, 0x0200, {0xAB, 0xCD}) + "\n";
    const Conversion c = Convert(text);
    EXPECT_TRUE(c.ok) << (c.messages.empty() ? "" : c.messages[0]);
    EXPECT_EQ(c.first, Concat(PatternBytes(16, 0xA0), {0xAB, 0xCD}));
    ASSERT_EQ(c.firstList.runs.size(), 2u);
    ExpectRun(c.firstList.runs[0], 0x100, 16, 0);
    ExpectRun(c.firstList.runs[1], 0x200, 2, 0);
}

TEST_F(HexParserTest, FirstRunWithoutExtendedAddressRecord) {
    // Not at offset 0: starts at its offset, no empty run in front of it.
    Conversion c = Convert(HexLine(0, 0x0040, PatternBytes(8)) + "\n" + HexEnd() + "\n");
    EXPECT_TRUE(c.ok);
    ASSERT_EQ(c.firstList.runs.size(), 1u);
    ExpectRun(c.firstList.runs[0], 0x40, 8, 0);

    // At offset 0: starts at 0 and is listed when the next extended address record arrives.
    c = Convert(HexLine(0, 0x0000, PatternBytes(8)) + "\n" + HexExtendedLinear(0x0001) + "\n" +
                HexLine(0, 0x0000, PatternBytes(4)) + "\n");
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
        {"no colon", HexLine(0, 4, PatternBytes(4)).substr(1), kHexFormatError},
        {"empty line", "", kHexFormatError},
        {"shorter than its byte count", ":10000400000102030405D0", kHexFormatError},
        {"too short for any record", ":0000", kHexFormatError},
        {"non-hex digit", nonHexInData, kHexFormatError},
        {"space in the line", ":04 000400010203F0", kHexFormatError},
        {"wrong checksum", badChecksum, kHexRecordWrong},
    };
    for (const Case& bad : cases) {
        SCOPED_TRACE(bad.name);
        prompt.messages.clear();
        const Conversion c = Convert(good + bad.line + "\n" + HexLine(0, 8, PatternBytes(4)) + "\n");
        EXPECT_FALSE(c.ok);
        ASSERT_EQ(c.messages.size(), 1u);
        EXPECT_EQ(c.messages[0], bad.message);
        EXPECT_EQ(c.failedLine, 2);
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
    EXPECT_EQ(c.messages[0], kHexExternalWithoutOutput);
    EXPECT_EQ(c.first, PatternBytes(8));  // none of the window's bytes landed in the first output
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
