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

TEST(LoaderPacket, RepliesAreJudgedByCodeStatusAndCrc) {
    struct Case {
        const char* name;
        std::vector<uint8_t> reply;
        LoaderReplyKind kind;
        std::vector<uint8_t> data;
    };
    std::vector<uint8_t> badCrc = BuildLoaderPacket(0xB8, 5, std::vector<uint8_t>{1});
    badCrc.back() ^= 0x80;
    const std::vector<uint8_t> payload = {9, 8, 7};
    const Case cases[] = {
        {"done", BuildLoaderPacket(0xB8, 5, std::vector<uint8_t>{1}), LoaderReplyKind::Done, {}},
        {"busy", BuildLoaderPacket(0xB8, 5, std::vector<uint8_t>{2}), LoaderReplyKind::Busy, {}},
        {"failed", BuildLoaderPacket(0xB8, 5, std::vector<uint8_t>{3}), LoaderReplyKind::Refused, {}},
        {"status without its byte", BuildLoaderPacket(0xB8, 4, {}), LoaderReplyKind::Refused, {}},
        {"data", BuildLoaderPacket(0x95, 7, payload), LoaderReplyKind::Data, payload},
        {"empty data", BuildLoaderPacket(0x95, 4, {}), LoaderReplyKind::Data, {}},
        {"another code", BuildLoaderPacket(0xB2, 5, std::vector<uint8_t>{1}), LoaderReplyKind::Refused, {}},
        {"wrong CRC", badCrc, LoaderReplyKind::Damaged, {}},
        {"too short for a CRC", {0xB8, 3, 0, 1, 0, 0}, LoaderReplyKind::Damaged, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::span<const uint8_t> whole(c.reply);
        const LoaderReply reply = DecodeLoaderReply(whole.first(3), whole.subspan(3));
        EXPECT_EQ(reply.kind, c.kind);
        EXPECT_EQ(std::vector<uint8_t>(reply.data.begin(), reply.data.end()), c.data);
    }
    const std::vector<uint8_t> ready = BuildLoaderPacket(0xB2, 4, {});
    EXPECT_TRUE(IsLoaderReadyPacket(std::span(ready).first(3), std::span(ready).subspan(3)));
    EXPECT_FALSE(IsLoaderReadyPacket(std::span(ready).first(3), std::span(ready).subspan(3, 3)));
    const std::vector<uint8_t> notReady = BuildLoaderPacket(0xB8, 4, {});
    EXPECT_FALSE(IsLoaderReadyPacket(std::span(notReady).first(3), std::span(notReady).subspan(3)));
}
