// The framed ROM's sync as the host judges the bytes that come back: announcements the ROM repeated
// before the host's answer reached it are passed over; anything else ahead of "OK" is no answer.
#include <gtest/gtest.h>

#include <deque>

#include "Recorders.h"
#include "links/UartFramedRom.h"
#include "model/FamilyProfile.h"
#include "platform/Clock.h"

namespace tavrel {
namespace {

// A line whose board sends a fixed stream, whatever the host writes.
class CannedLine final : public UartLine {
public:
    CannedLine(UserPrompt& prompt, const std::string& stream)
        : UartLine(prompt, SystemClock(), QuickTimings()), stream_(stream.begin(), stream.end()) {}
    size_t ReadComBytes(uint8_t* buffer, size_t count, uint32_t) override {
        size_t got = 0;
        for (; got < count && !stream_.empty(); ++got) {
            buffer[got] = stream_.front();
            stream_.pop_front();
        }
        return got;
    }
    size_t ReadComAvailable(uint8_t* buffer, size_t maximum) override { return ReadComBytes(buffer, maximum, 0); }
    bool WriteComBytes(const uint8_t*, size_t) override { return true; }
    void Flush() override {}

private:
    // A stream that ends without an answer runs out the sync window: keep it short.
    static UartTimings QuickTimings() {
        UartTimings timings;
        timings.syncWindowMs = 200;
        timings.syncByteMs = 20;
        timings.readMs = 20;
        return timings;
    }
    std::deque<uint8_t> stream_;
};

TEST(FramedSync, LateAnnouncementsBeforeTheAnswerArePassedOver) {
    const struct {
        const char* stream;
        int result;
    } cases[] = {
        {"#OK0", UartFramedRom::kSyncReady},
        {"##OK0", UartFramedRom::kSyncReady},  // the ROM announced again before it saw the answer
        {"#:#OK1", UartFramedRom::kSyncAnsweredOne},
        {"#xOK0", UartFramedRom::kSyncNoAnswer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stream);
        test::RecordingPrompt prompt;
        test::RecordingHost host;
        CannedLine line(prompt, c.stream);
        UartFramedRom rom(line, host, *FindFamilyProfile("KR2E500"));
        EXPECT_EQ(rom.SyncBootRom(), c.result);
    }
}

}  // namespace
}  // namespace tavrel
