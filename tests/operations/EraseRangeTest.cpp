// What a program run erases and announces: HEX and bin images, blocks and sectors with the
// "minus 1 on a multiple" rule, and the DFU route's sector span.
#include <gtest/gtest.h>

#include "operations/EraseRange.h"

using namespace tavrel;

namespace {

SegmentList Segments(std::initializer_list<std::pair<uint32_t, int32_t>> runs) {
    SegmentList list;
    for (const auto& [start, length] : runs) list.runs.push_back({.startAddress = start, .length = length});
    return list;
}

struct Expected {
    uint32_t start, end, firstBlock, lastBlock, firstSector, lastSector;
};

void ExpectRange(const EraseRange& range, const Expected& e, const char* what) {
    EXPECT_EQ(range.start, e.start) << what;
    EXPECT_EQ(range.end, e.end) << what;
    EXPECT_EQ(range.firstBlock, e.firstBlock) << what;
    EXPECT_EQ(range.lastBlock, e.lastBlock) << what;
    EXPECT_EQ(range.firstSector, e.firstSector) << what;
    EXPECT_EQ(range.lastSector, e.lastSector) << what;
    EXPECT_EQ(range.LastOffset(), e.end - 1) << what;
    EXPECT_FALSE(range.Empty()) << what;
}

}  // namespace

TEST(EraseRange, BinImagesFromTheBlockAndSectorOfTheirStart) {
    struct Case {
        const char* what;
        uint32_t start, size;
        Expected expected;
    };
    for (const Case& c : {
             Case{"0x10000 bytes at 0x10000", 0x10000, 0x10000, {0x10000, 0x20000, 1, 1, 16, 31}},
             Case{"one sector at 0", 0, 0x1000, {0, 0x1000, 0, 0, 0, 0}},
             Case{"one byte into the next sector", 0, 0x1001, {0, 0x1001, 0, 0, 0, 1}},
             Case{"across a block boundary", 0x1F000, 0x2000, {0x1F000, 0x21000, 1, 2, 31, 32}},
             Case{"up to the end of a 1 MiB flash", 0xFFF00, 0x100, {0xFFF00, 0x100000, 15, 15, 255, 255}},
         })
        ExpectRange(BinEraseRange(c.start, c.size), c.expected, c.what);
}

TEST(EraseRange, AnEmptyBinImageHasNothingToEraseRatherThanAWrappedRange) {
    const EraseRange range = BinEraseRange(0, 0);
    EXPECT_TRUE(range.Empty());
    EXPECT_LE(range.lastBlock, range.firstBlock);
    EXPECT_LE(range.lastSector, range.firstSector);
}

TEST(EraseRange, HexImagesFromTheHeaderToTheEndOfTheirData) {
    ExpectRange(HexEraseRange({}, 0x2345), {0x1000, 0x3345, 0, 0, 0, 3}, "SRAM data only");
    ExpectRange(HexEraseRange({}, 0xF000), {0x1000, 0x10000, 0, 0, 0, 15}, "SRAM data up to a block's end");
    ExpectRange(HexEraseRange(Segments({{0x1F002000, 0x100}, {0x1F010000, 0x10000}}), 0x10100),
                {0x1000, 0x20000, 0, 1, 0, 31}, "flash segments in ascending order");
}

TEST(EraseRange, FlashSegmentsInAnyOrderAreErasedUpToTheHighestEnd) {
    // Listed last, the low segment would end the range at 0x2100 and leave the high one unerased.
    ExpectRange(HexEraseRange(Segments({{0x1F010000, 0x10000}, {0x1F002000, 0x100}}), 0x10100),
                {0x1000, 0x20000, 0, 1, 0, 31}, "flash segments out of order");
}

TEST(EraseRange, DfuSectorSpans) {
    struct Case {
        const char* what;
        DfuSectorRange range;
        uint32_t first, count;
    };
    for (const Case& c : {
             Case{"4096 bytes at 0", DfuImageSectors(0, 4096), 0, 0},
             Case{"4097 bytes at 0", DfuImageSectors(0, 4097), 0, 1},
             Case{"0x100 bytes at 0x3FF80", DfuImageSectors(0x3FF80, 0x100), 0x3F, 1},
             Case{"erase page sectors 3 to 10", DfuSectors(3, 10), 3, 7},
             Case{"erase page sector 5 alone", DfuSectors(5, 5), 5, 0},
         }) {
        EXPECT_EQ(c.range.firstSector, c.first) << c.what;
        EXPECT_EQ(c.range.count, c.count) << c.what;
    }
}
