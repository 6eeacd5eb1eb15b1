#include <gtest/gtest.h>

#include "links/LoaderPacket.h"
#include "model/Checksum.h"

using namespace tavrel;
using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;

TEST(LoaderPacket, FinishIsSevenBytesWithItsCrc) {
    auto packet = FinishPacket();
    ASSERT_EQ(packet.size(), 7u);
    EXPECT_EQ(packet[0], 0x08);
    EXPECT_EQ(packet[1], 4);
    EXPECT_EQ(packet[2], 0);
    EXPECT_EQ(GetLe32(&packet[3]), ComputeCrc(0, std::span(packet.data(), 3)));
}

TEST(LoaderPacket, TwoWordBodiesAreLittleEndian) {
    auto packet = ReadDataPacket(8192, 0x1000);
    ASSERT_EQ(packet.size(), 15u);
    EXPECT_EQ(packet[0], 0x5F);
    EXPECT_EQ(packet[1], 12);
    EXPECT_EQ(GetLe32(&packet[3]), 8192u);
    EXPECT_EQ(GetLe32(&packet[7]), 0x1000u);
    EXPECT_EQ(GetLe32(&packet[11]), ComputeCrc(0, std::span(packet.data(), 11)));
    EXPECT_TRUE(LoaderReplyCrcMatches(std::span(packet.data(), 3), std::span(packet.data() + 3, 12)));
    packet[5] ^= 1;
    EXPECT_FALSE(LoaderReplyCrcMatches(std::span(packet.data(), 3), std::span(packet.data() + 3, 12)));
}

TEST(LoaderPacket, CheckFlashTypeCarries16Bits) {
    auto packet = CheckFlashTypePacket(13);
    ASSERT_EQ(packet.size(), 9u);
    EXPECT_EQ(packet[3], 13);
    EXPECT_EQ(packet[4], 0);
}

TEST(LoaderPacket, BlockRunsMergeConsecutiveNumbers) {
    EXPECT_EQ(BlockRuns({9, 3, 5, 4}), (Pairs{{3, 5}, {9, 9}}));
    EXPECT_EQ(BlockRuns({}), Pairs{});
    EXPECT_EQ(BlockRuns({0}), (Pairs{{0, 0}}));
}

TEST(LoaderPacket, SectorPairsShareTheirBounds) {
    EXPECT_EQ(SectorPairs(0, 45), (Pairs{{0, 20}, {20, 40}, {40, 45}}));
    EXPECT_EQ(SectorPairs(0, 20), (Pairs{{0, 20}}));
    EXPECT_EQ(SectorPairs(0, 40), (Pairs{{0, 20}, {20, 40}}));
    EXPECT_EQ(SectorPairs(7, 7), (Pairs{{7, 7}}));
}
