// The command layer over a channel that records packets and answers from a script.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "links/LoaderCommands.h"
#include "links/LoaderPacket.h"

using namespace tavrel;

namespace {

struct Answer {
    bool ok = true;
    std::vector<uint8_t> data;
};

class ScriptedChannel : public LoaderChannel {
public:
    bool Transaction(std::span<const uint8_t> packet) override {
        sent.emplace_back(packet.begin(), packet.end());
        reply.clear();
        if (answers.empty()) return true;
        Answer answer = answers.front();
        answers.pop_front();
        reply = answer.data;
        return answer.ok;
    }
    bool Post(std::span<const uint8_t> packet) override {
        posted.emplace_back(packet.begin(), packet.end());
        return true;
    }
    std::span<const uint8_t> ReplyData() const override { return reply; }

    std::deque<Answer> answers;
    std::vector<std::vector<uint8_t>> sent;
    std::vector<std::vector<uint8_t>> posted;
    std::vector<uint8_t> reply;
};

}  // namespace

TEST(LoaderCommands, EachCommandSendsItsPacket) {
    ScriptedChannel channel;
    const std::vector<uint8_t> body = {0x00, 0x10, 0, 0, 0xAA, 0xBB};
    EXPECT_TRUE(LoaderEraseAll(channel));
    EXPECT_TRUE(LoaderEraseBlocks(channel, 1, 3));
    EXPECT_TRUE(LoaderEraseSectors(channel, 0, 20));
    EXPECT_TRUE(LoaderProgramRange(channel, 0x1000, 0x1FFF));
    EXPECT_TRUE(LoaderWriteData(channel, 10, body));
    EXPECT_EQ(LoaderCheckFlashType(channel, 13), 0);
    EXPECT_TRUE(LoaderFinish(channel));
    EXPECT_EQ(channel.sent, (std::vector<std::vector<uint8_t>>{EraseAllPacket(), EraseBlocksPacket(1, 3),
                                                                EraseSectorsPacket(0, 20), ProgramRangePacket(0x1000, 0x1FFF),
                                                                WriteDataPacket(10, body), CheckFlashTypePacket(13)}));
    EXPECT_EQ(channel.posted, (std::vector<std::vector<uint8_t>>{FinishPacket()}));
}

TEST(LoaderCommands, FlashTypeCheckAnswersZeroOrMinusOne) {
    ScriptedChannel channel;
    channel.answers = {{false, {}}};
    EXPECT_EQ(LoaderCheckFlashType(channel, 7), -1);
}

TEST(LoaderCommands, ReadDataNeedsExactlyTheBytesAskedFor) {
    ScriptedChannel channel;
    channel.answers = {{true, {1, 2, 3, 4}}, {true, {1, 2, 3}}, {true, {}}};
    EXPECT_TRUE(LoaderReadData(channel, 4, 0x100));
    EXPECT_FALSE(LoaderReadData(channel, 4, 0x100));  // short data reply
    EXPECT_FALSE(LoaderReadData(channel, 4, 0x100));  // a status reply carries no data
    EXPECT_EQ(channel.sent.back(), ReadDataPacket(4, 0x100));

    // More than a data reply can carry (8192 bytes) is not even asked for.
    const size_t before = channel.sent.size();
    EXPECT_FALSE(LoaderReadData(channel, 8193, 0));
    EXPECT_EQ(channel.sent.size(), before);
}

TEST(LoaderCommands, MultiRequestErasesSplitAndStopAtTheFirstFailure) {
    ScriptedChannel channel;
    std::vector<std::pair<size_t, size_t>> steps;
    EXPECT_TRUE(LoaderEraseBlockRuns(channel, {9, 3, 5, 4}, [&](size_t sent, size_t total) { steps.emplace_back(sent, total); }));
    EXPECT_EQ(channel.sent, (std::vector<std::vector<uint8_t>>{EraseBlocksPacket(3, 5), EraseBlocksPacket(9, 9)}));
    EXPECT_EQ(steps, (std::vector<std::pair<size_t, size_t>>{{1, 2}, {2, 2}}));

    channel.sent.clear();
    channel.answers = {{true, {}}, {false, {}}};
    EXPECT_FALSE(LoaderEraseSectorPairs(channel, 0, 45));
    EXPECT_EQ(channel.sent, (std::vector<std::vector<uint8_t>>{EraseSectorsPacket(0, 20), EraseSectorsPacket(20, 40)}));

    channel.sent.clear();
    EXPECT_FALSE(LoaderEraseBlockRuns(channel, {}));
    EXPECT_TRUE(channel.sent.empty());
}
