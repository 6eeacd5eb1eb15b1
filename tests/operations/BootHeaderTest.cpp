// The KR2A600 boot header: its words from the page's choices, the security block, and the segment
// descriptors with their CRCs over descriptor and segment data.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ByteFields.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "model/Checksum.h"
#include "model/HexParser.h"
#include "operations/BootHeader.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

std::vector<uint8_t> Bytes(std::span<const uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

// CRC of descriptor bytes 4-31 followed by the segment's data, computed in one piece.
uint32_t ExpectedCrc(int mode, const std::array<uint8_t, 32>& descriptor, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> all(descriptor.begin() + 4, descriptor.end());
    all.insert(all.end(), data.begin(), data.end());
    return ComputeCrc(mode, all);
}

std::istringstream ImageStream(const std::vector<uint8_t>& bytes) {
    return std::istringstream(std::string(bytes.begin(), bytes.end()));
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

}  // namespace

TEST(BootHeader, ModeAndClockWordsFromThePageIndexes) {
    struct Case {
        int crc, qspi, init, final;
        uint32_t word;
    };
    for (const Case& c : {Case{4, 3, 0, 2, 0xFFFFF8D0}, Case{0, 0, 0, 0, 0xFFFFF000}, Case{3, 1, 2, 1, 0xFFFFF64A},
                          Case{15, 9, 10, 8, 0xFFFFFE42}}) {  // each field masked to 3 bits
        EXPECT_EQ(ModeWord(c.crc, c.qspi, c.init, c.final), c.word) << c.crc << c.qspi << c.init << c.final;
        EXPECT_EQ(CrcModeOf(c.word), c.crc & 7);
    }
    EXPECT_EQ(ClockWord(3), 0xFFFFFF00u);
    EXPECT_EQ(ClockWord(0), 0xFFFFFC00u);
    EXPECT_EQ(ClockWord(1), 0xFFFFFD00u);
}

TEST(BootHeader, WordsStartAtTheirResetValuesAndABinImageOnlySetsItsStart) {
    EXPECT_EQ(BinHeaderWords(0x10000).w, (std::array<uint32_t, 12>{0, 0, 0x10000, 0, 0, 0x7FFFFFFF, 0xFFFFFE00, 0xFFFFFFFF,
                                                                     0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFF00, 0xFFFFFFFF}));
}

TEST(BootHeader, SecureGivesTheSecurityWordAndPasswordNoneGivesOnes) {
    BootOptions options;
    options.clockSource = 0;
    options.securityMode = 2;
    options.password = 0x12345678;
    EXPECT_EQ(Bytes(SecurityBlock(HexHeaderWords(options))),
              (std::vector<uint8_t>{0x04, 0x02, 0x01, 0x00, 0x78, 0x56, 0x34, 0x12, 0x00, 0xFC, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF}));

    options.securityMode = 3;
    EXPECT_EQ(Bytes(SecurityBlock(HexHeaderWords(options))),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFC, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF}));
}

TEST(BootHeader, OneSegmentIsTheLastAndItsCrcCoversDescriptorAndAllItsData) {
    BootOptions options;
    options.crcMode = 0;
    BootHeaderWords words = HexHeaderWords(options);
    words.w[BootHeaderWords::kEntry] = 0x20000101;
    // Longer than one read piece, so the CRC runs on over several.
    const std::vector<uint8_t> data = PatternBytes(20000, 7);
    auto image = ImageStream(data);
    BootHeader header;
    ASSERT_TRUE(BuildBootHeader(words, Segments({{0x20000000, 20000}}), image, header));

    ASSERT_EQ(header.descriptors.size(), 1u);
    const auto bytes = Bytes(header.descriptors[0]);
    EXPECT_EQ(Le32At(bytes, 4), 20000u);
    EXPECT_EQ(Le32At(bytes, 8), 0x1000u);
    EXPECT_EQ(Le32At(bytes, 12), 0x20000000u);
    EXPECT_EQ(Le32At(bytes, 16), 0x20000101u);
    EXPECT_EQ(Le32At(bytes, 20), 0x7FFFFFFFu);
    EXPECT_EQ(Le32At(bytes, 24), ModeWord(0, 0, 0, 0));
    EXPECT_EQ(Le32At(bytes, 28), 0xFFFFFFFFu);
    EXPECT_EQ(Le32At(bytes, 0), ExpectedCrc(0, header.descriptors[0], data));
    EXPECT_NE(Le32At(bytes, 0), 0u);
}

TEST(BootHeader, ThreeSegmentsOfAConvertedHexImageAreNumberedAndCheckedEachWithItsOwnData) {
    TempDir dir;
    const auto a = PatternBytes(0x30, 1);
    const auto b = PatternBytes(0x120, 2);
    const auto c = PatternBytes(0x44, 3);
    WriteTextFile(dir / "image.hex", HexImage(0x20000000, a) + HexImage(0x20001000, b) + HexImage(0x00100000, c) +
                                         HexStartLinear(0x20000001) + "\n" + HexEnd() + "\n");
    RecordingPrompt prompt;
    CHexParser parser(prompt);
    SegmentList sram, flash;
    ASSERT_TRUE(parser.ConvertHexToBinary((dir / "image.hex").string(), (dir / "sram_temp.bin").string(),
                                          (dir / "flash_temp.bin").string(), sram, &flash, "KR2A600"));
    ASSERT_EQ(sram.runs.size(), 3u);

    BootOptions options;
    options.crcMode = 3;
    BootHeaderWords words = HexHeaderWords(options);
    words.w[BootHeaderWords::kEntry] = sram.entryAddress;
    std::ifstream image(dir / "sram_temp.bin", std::ios::binary);
    BootHeader header;
    ASSERT_TRUE(BuildBootHeader(words, sram, image, header));

    ASSERT_EQ(header.descriptors.size(), 3u);
    const std::vector<uint32_t> numbers = {0x7FFF0001, 0x7FFF0002, 0x7FFFFFFF};
    const std::vector<uint32_t> offsets = {0x1000, 0x1030, 0x1150};
    const std::vector<uint32_t> loads = {0x20000000, 0x20001000, 0x00100000};
    const std::vector<std::vector<uint8_t>> data = {a, b, c};
    for (size_t k = 0; k < 3; ++k) {
        const auto bytes = Bytes(header.descriptors[k]);
        EXPECT_EQ(Le32At(bytes, 20), numbers[k]) << k;
        EXPECT_EQ(Le32At(bytes, 8), offsets[k]) << k;
        EXPECT_EQ(Le32At(bytes, 12), loads[k]) << k;
        EXPECT_EQ(Le32At(bytes, 4), data[k].size()) << k;
        EXPECT_EQ(Le32At(bytes, 16), 0x20000001u) << k;
        EXPECT_EQ(Le32At(bytes, 0), ExpectedCrc(3, header.descriptors[k], data[k])) << k;
    }
    EXPECT_EQ(SegmentDescriptorOffset(0), 16u);
    EXPECT_EQ(SegmentDescriptorOffset(2), 80u);
}

TEST(BootHeader, AnImageWithoutSramDataStillGetsOneEmptyLastDescriptor) {
    BootOptions options;
    options.crcMode = 1;
    BootHeaderWords words = HexHeaderWords(options);
    words.w[BootHeaderWords::kEntry] = 0x1F000401;
    std::istringstream image;
    BootHeader header;
    ASSERT_TRUE(BuildBootHeader(words, Segments({}, 0x1F000401), image, header));

    ASSERT_EQ(header.descriptors.size(), 1u);
    const auto bytes = Bytes(header.descriptors[0]);
    EXPECT_EQ(Le32At(bytes, 4), 0u);
    EXPECT_EQ(Le32At(bytes, 8), 0x1000u);
    EXPECT_EQ(Le32At(bytes, 16), 0x1F000401u);
    EXPECT_EQ(Le32At(bytes, 20), 0x7FFFFFFFu);
    EXPECT_EQ(Le32At(bytes, 0), ExpectedCrc(1, header.descriptors[0], {}));
}

TEST(BootHeader, NoCrcLeavesWordZeroAtZeroAndReadsNoSegmentData) {
    const BootHeaderWords words = HexHeaderWords(BootOptions{});  // CRC mode 4, "No CRC"
    std::istringstream empty;  // the segments' data would not be there to read
    BootHeader header;
    ASSERT_TRUE(BuildBootHeader(words, Segments({{0x20000000, 0x100}, {0x20001000, 0x10}}), empty, header));
    ASSERT_EQ(header.descriptors.size(), 2u);
    EXPECT_EQ(Le32At(Bytes(header.descriptors[0]), 0), 0u);
    EXPECT_EQ(Le32At(Bytes(header.descriptors[1]), 0), 0u);
}

TEST(BootHeader, AnImageFileShorterThanItsSegmentsIsRefused) {
    BootOptions options;
    options.crcMode = 2;
    auto image = ImageStream(PatternBytes(0x20));
    BootHeader header;
    EXPECT_FALSE(BuildBootHeader(HexHeaderWords(options), Segments({{0x20000000, 0x10}, {0x20001000, 0x11}}), image,
                                 header));
}

TEST(BootHeader, TheDescriptorTableHoldsNoMoreThan127SegmentsBelowTheSramData) {
    EXPECT_LE(SegmentDescriptorOffset(126) + 32, 0x1000u);  // the 127th ends below the SRAM data
    EXPECT_GT(SegmentDescriptorOffset(127) + 32, 0x1000u);  // a 128th would reach into them
    SegmentList sram;
    for (uint32_t k = 0; k < 128; ++k) sram.runs.push_back({.startAddress = 0x20000000 + 0x100 * k, .length = 4});
    std::istringstream image;
    BootHeader header;
    EXPECT_FALSE(BuildBootHeader(HexHeaderWords(BootOptions{}), sram, image, header));
    sram.runs.pop_back();
    ASSERT_TRUE(BuildBootHeader(HexHeaderWords(BootOptions{}), sram, image, header));
    EXPECT_EQ(header.descriptors.size(), 127u);
    EXPECT_EQ(Le32At(Bytes(header.descriptors[125]), 20), 0x7FFF007Eu);
    EXPECT_EQ(Le32At(Bytes(header.descriptors[126]), 20), 0x7FFFFFFFu);
}
