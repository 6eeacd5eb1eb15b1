// Blank chunks into flash the session has just erased are answered as done without reaching the
// link; everything else goes through as it came.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "operations/BlankChunkSkip.h"

namespace tavrel {
namespace {

// The link's side: every call it receives, as text.
class CallRecorder final : public FlashSession {
public:
    explicit CallRecorder(std::vector<std::string>& calls) : calls_(calls) {}
    bool EraseAll() override { return Log("erase all"); }
    bool EraseBlocks(uint32_t first, uint32_t last) override {
        return Log("blocks " + std::to_string(first) + "-" + std::to_string(last));
    }
    bool EraseSectors(uint32_t first, uint32_t last) override {
        return Log("sectors " + std::to_string(first) + "-" + std::to_string(last));
    }
    bool AnnounceRange(uint32_t, uint32_t) override { return Log("range"); }
    bool Write(uint32_t offset, std::span<const uint8_t> data) override {
        return Log("write " + std::to_string(offset) + "+" + std::to_string(data.size()));
    }
    bool Read(uint32_t, std::span<uint8_t>) override { return Log("read"); }
    bool CheckFlashType(uint16_t) override { return true; }
    bool Finish() override { return Log("finish"); }
    uint32_t MaxChunk() const override { return 1024; }

private:
    bool Log(std::string call) {
        calls_.push_back(std::move(call));
        return true;
    }
    std::vector<std::string>& calls_;
};

TEST(BlankChunkSkip, OnlyBlankChunksInsideAnEraseOfThisSessionAreDropped) {
    std::vector<std::string> calls;
    BlankChunkSkip session(std::make_unique<CallRecorder>(calls));
    const std::vector<uint8_t> blank(1024, 0xFF);
    std::vector<uint8_t> data(1024, 0xFF);
    data[1023] = 0xFE;

    EXPECT_TRUE(session.Write(0x1000, blank));  // nothing erased yet
    EXPECT_TRUE(session.EraseSectors(1, 2));    // 0x1000 to 0x2FFF
    EXPECT_TRUE(session.Write(0x1400, blank));  // dropped
    EXPECT_TRUE(session.Write(0x1800, data));   // one byte not blank
    EXPECT_TRUE(session.Write(0x1800, blank));  // over what was just written
    EXPECT_TRUE(session.Write(0x2C00, blank));  // dropped: the last chunk of sector 2
    EXPECT_TRUE(session.Write(0x2E00, blank));  // leaves the erased range
    EXPECT_TRUE(session.EraseBlocks(1, 1));     // 0x10000 to 0x1FFFF
    EXPECT_TRUE(session.Write(0x1FC00, blank)); // dropped
    EXPECT_TRUE(session.EraseAll());
    EXPECT_TRUE(session.Write(0x1800, blank));  // dropped: the whole flash is erased again
    EXPECT_TRUE(session.Finish());

    EXPECT_EQ(calls, (std::vector<std::string>{"write 4096+1024", "sectors 1-2", "write 6144+1024", "write 6144+1024",
                                               "write 11776+1024", "blocks 1-1", "erase all", "finish"}));
    EXPECT_EQ(session.skippedBytes(), 4u * 1024);
}

}  // namespace
}  // namespace tavrel
