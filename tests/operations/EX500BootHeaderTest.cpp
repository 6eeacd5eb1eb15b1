// The KR2E500-group boot header: divisors and the BootConfig words per family, boot delay codes,
// location codes, segment windows, and a HEX image's span, flash offsets and CRC.
#include <gtest/gtest.h>

#include <sstream>

#include "ByteFields.h"
#include "HexFiles.h"
#include "model/Checksum.h"
#include "operations/EX500BootHeader.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

const EX500FamilyRow& Row(const char* family) {
    const EX500FamilyRow* row = FindEX500FamilyRow(family);
    EXPECT_NE(row, nullptr) << family;
    return *row;
}

SegmentList Segments(std::initializer_list<std::pair<uint32_t, int32_t>> runs, uint32_t entry = 0) {
    SegmentList list;
    for (const auto& [start, length] : runs) {
        ImageSegment segment;
        segment.startAddress = start;
        segment.length = length;
        list.runs.push_back(segment);
    }
    list.entryAddress = entry;
    return list;
}

TEST(EX500BootHeader, DivisorsAt115200AndTheirBootConfigBHighHalves) {
    struct Case {
        const char* family;
        uint32_t divisor;
        uint32_t high;
    };
    for (const Case& c : {Case{"KR2E500", 17, 0xFFEE}, Case{"KR2A500", 17, 0xFFEE}, Case{"KR2G700", 20, 0xFFEB},
                          Case{"KR2E550", 5, 0xFFFA}, Case{"KR2E700", 8, 0xFFF7}}) {
        const uint32_t divisor = BaudDivisor(Row(c.family), 115200);
        EXPECT_EQ(divisor, c.divisor) << c.family;
        EXPECT_EQ(BootConfigB(0, {}, divisor) >> 16, c.high) << c.family;
    }
    EXPECT_EQ(BaudDivisor(Row("KR2E500"), 9600), 208u);
    EXPECT_EQ(BaudDivisor(Row("KR2E550"), 9600), 60u);  // 24000000 / 399360 = 60.09
    EXPECT_EQ(FindEX500FamilyRow("KR2A600"), nullptr);
    EXPECT_EQ(FindEX500FamilyRow("kr2e500"), nullptr);
}

TEST(EX500BootHeader, BootDelayCodesGoIntoBothConfigWords) {
    const auto& row = Row("KR2E500");
    const BootDelayCodes ms40 = BootDelayCodesFor(1);
    EXPECT_EQ((BootConfigA(row, 0, 0, ms40) >> 9) & 0xF, 1u);
    EXPECT_EQ((BootConfigB(4, ms40, 17) >> 14) & 3, 0u);
    const BootDelayCodes sec3 = BootDelayCodesFor(4);
    EXPECT_EQ((BootConfigA(row, 0, 0, sec3) >> 9) & 0xF, 0u);
    EXPECT_EQ((BootConfigB(4, sec3, 17) >> 14) & 3, 3u);
    EXPECT_EQ(BootDelayCodesFor(0).a, 0u);
    EXPECT_EQ(BootDelayCodesFor(2).b, 1u);

    // "UART2", location 2, "1 Sec", CRC-16-IBM at 115200.
    EXPECT_EQ(BootConfigA(row, 1, 2, BootDelayCodesFor(2)), 0xFFu | 1u << 8 | 2u << 13);
    EXPECT_EQ(BootConfigB(1, BootDelayCodesFor(2), 17), 0xFFEE0000u | 1u | 2u << 3 | 7u << 8 | 7u << 11 | 1u << 14);
    // The reset low half is these constant fields with CRC index 7 and delay code B 2.
    EXPECT_EQ(BootConfigB(7, {0, 2}, 0xFFFF) & 0xFFFF, 0xBF17u);
}

TEST(EX500BootHeader, LocationCodes) {
    const auto& e700 = Row("KR2E700");
    EXPECT_EQ(UartLocationCode(e700, 0, 0), 3u);  // "GPIO6,7"
    EXPECT_EQ(UartLocationCode(e700, 1, 0), 2u);  // "GPIO0,1"
    EXPECT_EQ(UartLocationCode(e700, 1, 1), 3u);  // "GPIO12,13"
    EXPECT_EQ(UartLocationCode(Row("KR2E500"), 0, 5), 5u);
    // KR2E550 adds one in BootConfigA.
    EXPECT_EQ((BootConfigA(Row("KR2E550"), 0, 2, {}) >> 13) & 0xF, 3u);
    EXPECT_EQ((BootConfigA(Row("KR2G700"), 0, 2, {}) >> 13) & 0xF, 2u);
    EXPECT_EQ(BootConfigA(Row("KR2E550"), 1, 15, {}) >> 17, 0u);  // four bits only
}

TEST(EX500BootHeader, SegmentWindowsPerFamily) {
    struct Case {
        const char* family;
        uint32_t start;
        int32_t length;
        bool allowed;
    };
    const Case cases[] = {
        {"KR2E500", 0x100000, 0x100, true},      {"KR2E500", 0xFFFFF, 0x10, false},
        {"KR2E500", 0x124F00, 0xFF, true},       {"KR2E500", 0x124F00, 0x100, false},
        {"KR2E500", 0x20100000, 0x24FFF, true},
        {"KR2E500", 0x20100000, 0x25000, false}, {"KR2E500", 0x1280001, 0x10, false},
        {"KR2A500", 0x20000000, 0x10, false},    {"KR2E550", 0x1FFFFFF0, 0x10, false},
        {"KR2E550", 0x20000000, 0x28800, true},  {"KR2E550", 0x20000000, 0x28801, false},
        {"KR2E550", 0x20028E00, 0x200, true},    {"KR2E550", 0x20028E00, 0x201, false},
        {"KR2G700", 0x100000, 0x7EFFF, true},    {"KR2G700", 0x100000, 0x7F000, false},
        {"KR2G700", 0x20100000, 0x7FFFE, true},  {"KR2G700", 0x20100000, 0x7FFFF, false},
        {"KR2G700", 0x20000000, 0x10, false},    {"KR2E700", 0x20000000, 0x26FFF, true},
        {"KR2E700", 0x20000000, 0x27000, false}, {"KR2E700", 0x100000, 0x10, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SegmentsAllowed(Row(c.family), Segments({{c.start, c.length}})), c.allowed)
            << c.family << std::hex << " 0x" << c.start << " + 0x" << c.length;
    EXPECT_FALSE(SegmentsAllowed(Row("KR2E700"), Segments({{0x20000000, 0x10}, {0x100000, 0x10}})));
}

class EX500HexImage : public ::testing::Test {
protected:
    // Segments at 0x100000 (0x100 bytes) and 0x100200 (0x10 bytes).
    std::vector<uint8_t> low = PatternBytes(0x100, 1);
    std::vector<uint8_t> high = PatternBytes(0x10, 7);

    // What the CRC covers, built in one piece: three words, then the span with 0xFF in the gap.
    uint32_t ExpectedCrc(int crcIndex, uint32_t entry) const {
        std::vector<uint8_t> buffer(12 + 0x210, 0xFF);
        PutLe32(&buffer[0], 0x210);
        PutLe32(&buffer[4], 0x100000);
        PutLe32(&buffer[8], entry);
        std::copy(low.begin(), low.end(), buffer.begin() + 12);
        std::copy(high.begin(), high.end(), buffer.begin() + 12 + 0x200);
        return ComputeCrc(crcIndex, buffer);
    }

    void CheckImage(const SegmentList& list, const std::vector<uint8_t>& packed) {
        const EX500HexSpan span = HexSpan(list);
        EXPECT_EQ(span.loadAddress, 0x100000u);
        EXPECT_EQ(span.length, 0x210u);
        for (const auto& segment : list.runs)
            EXPECT_EQ(EX500FlashOffset(span, segment), segment.startAddress == 0x100000 ? 32u : 0x220u);
        EX500HeaderWords words;
        words.imageLength = static_cast<uint32_t>(span.length);
        words.loadAddress = span.loadAddress;
        words.entryAddress = list.entryAddress;
        for (int crcIndex = 0; crcIndex < 4; ++crcIndex) {
            std::istringstream image(std::string(packed.begin(), packed.end()));
            image.seekg(5);  // wherever the caller left it
            uint32_t crc = 0;
            ASSERT_TRUE(EX500ImageCrc(crcIndex, words, list, image, crc));
            EXPECT_EQ(crc, ExpectedCrc(crcIndex, 0x100101)) << crcIndex;
        }
    }
};

TEST_F(EX500HexImage, SpanOffsetsAndCrcOverTheFilledGap) {
    std::vector<uint8_t> packed = low;
    packed.insert(packed.end(), high.begin(), high.end());
    CheckImage(Segments({{0x100000, 0x100}, {0x100200, 0x10}}, 0x100101), packed);
}

TEST_F(EX500HexImage, SegmentsOutOfOrderGiveTheSameSpanOffsetsAndCrc) {
    std::vector<uint8_t> packed = high;
    packed.insert(packed.end(), low.begin(), low.end());
    CheckImage(Segments({{0x100200, 0x10}, {0x100000, 0x100}}, 0x100101), packed);
}

TEST_F(EX500HexImage, ShortImageOrOverlappingSegmentsRefused) {
    EX500HeaderWords words;
    uint32_t crc = 0x1234;
    std::istringstream shortImage(std::string(0x100, '\x01'));
    EXPECT_FALSE(EX500ImageCrc(0, words, Segments({{0x100000, 0x100}, {0x100200, 0x10}}), shortImage, crc));
    std::istringstream image(std::string(0x200, '\x01'));
    EXPECT_FALSE(EX500ImageCrc(0, words, Segments({{0x100000, 0x100}, {0x1000F0, 0x100}}), image, crc));
    EXPECT_EQ(crc, 0x1234u);
}

TEST(EX500BootHeader, HeaderBytesInOrder) {
    EX500HeaderWords words;
    words.crc = 0x11;
    words.imageLength = 0x210;
    words.loadAddress = 0x100000;
    words.entryAddress = 0x100101;
    const auto bytes = EX500HeaderBytes(words);
    const std::vector<uint8_t> v(bytes.begin(), bytes.end());
    const uint32_t expected[8] = {0x11, 0x1FF, 0x210, 0xBF17, 0xFFFFFFFF, 0x100000, 0x100101, 0x544B4E5A};
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(Le32At(v, 4 * i), expected[i]) << i;
    EXPECT_EQ(std::string(v.begin() + 28, v.end()), "ZNKT");
}

}  // namespace
