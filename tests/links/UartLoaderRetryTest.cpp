// The serial loader exchange repeats a packet whose reply failed (damaged, busy, or cut short).
// What is left of a cut reply must not be read as the start of the next one: that would turn
// failed attempts into short headers, which are counted apart, and let a fourth reply through.
#include <gtest/gtest.h>

#include <deque>

#include "Recorders.h"
#include "links/LoaderPacket.h"
#include "links/UartLoaderChannel.h"
#include "model/FamilyProfile.h"
#include "platform/Clock.h"

namespace tavrel {
namespace {

std::vector<uint8_t> StatusReply(uint8_t status) {
    const uint8_t body[1] = {status};
    return BuildLoaderPacket(loader_code::kStatus, 5, body);
}

// Each write releases the next scripted reply. A reply may be cut: its first `cut` bytes come in
// time, the rest only after the host has taken what was there (a reply stalled on the line).
class ScriptedReplyLine final : public UartLine {
public:
    struct Reply {
        std::vector<uint8_t> bytes;
        size_t cut = 0;  // 0: whole
    };

    ScriptedReplyLine(UserPrompt& prompt, ManualClock& clock, std::deque<Reply> replies)
        : UartLine(prompt, clock), clock_(clock), replies_(std::move(replies)) {}

    size_t ReadComBytes(uint8_t* buffer, size_t count, uint32_t timeoutMs) override {
        if (queued_.size() < count) {
            clock_.Advance(timeoutMs);
            return 0;
        }
        return Take(buffer, count);
    }
    size_t ReadComAvailable(uint8_t* buffer, size_t maximum) override {
        const size_t got = Take(buffer, std::min(maximum, queued_.size()));
        queued_.insert(queued_.end(), late_.begin(), late_.end());
        late_.clear();
        return got;
    }
    bool WriteComBytes(const uint8_t*, size_t) override {
        ++writes;
        if (replies_.empty()) return true;
        const Reply reply = replies_.front();
        replies_.pop_front();
        const size_t cut = reply.cut == 0 ? reply.bytes.size() : reply.cut;
        queued_.insert(queued_.end(), reply.bytes.begin(), reply.bytes.begin() + static_cast<long>(cut));
        late_.insert(late_.end(), reply.bytes.begin() + static_cast<long>(cut), reply.bytes.end());
        return true;
    }
    void Flush() override {}

    int writes = 0;

private:
    size_t Take(uint8_t* buffer, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            buffer[i] = queued_.front();
            queued_.pop_front();
        }
        return count;
    }

    ManualClock& clock_;
    std::deque<Reply> replies_;
    std::deque<uint8_t> queued_;
    std::deque<uint8_t> late_;
};

TEST(UartLoaderRetry, AStalledReplysTailIsNotReadAsTheNextReply) {
    std::vector<uint8_t> damaged = StatusReply(loader_code::kStatusDone);
    damaged.back() ^= 0xFF;
    // The stalled reply's tail reads as a header of length 2 when taken for the next reply.
    std::vector<uint8_t> stalled = {loader_code::kStatus, 0x07, 0x00, 0x01, 0xAA, 0x00, 0x02, 0x00, 0x55, 0x55};
    struct Case {
        const char* name;
        std::deque<ScriptedReplyLine::Reply> replies;
        bool taken;
        int writes;
    };
    const std::vector<Case> cases = {
        {"three failed replies end the exchange",
         {{stalled, 5}, {damaged}, {damaged}, {StatusReply(loader_code::kStatusDone)}}, false, 3},
        {"a good reply after a stalled one is read whole",
         {{stalled, 5}, {StatusReply(loader_code::kStatusDone)}}, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecordingPrompt prompt;
        ManualClock clock(1000);
        ScriptedReplyLine line(prompt, clock, c.replies);
        UartLoaderChannel loader(line, *FindFamilyProfile("KR2A600"));
        EXPECT_EQ(loader.UartLoaderTransaction(FinishPacket()), c.taken);
        EXPECT_EQ(line.writes, c.writes);
    }
}

}  // namespace
}  // namespace tavrel
