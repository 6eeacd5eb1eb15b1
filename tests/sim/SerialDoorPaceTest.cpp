#include "sim/SerialDoorPace.h"

#include <gtest/gtest.h>

namespace tavrel::sim {
namespace {

constexpr uint64_t kMs = 1'000'000;

TEST(SerialDoorPace, AByteTakesTenBitTimes) {
    EXPECT_EQ(ByteTimeNs(115200), 86805u);
    EXPECT_EQ(ByteTimeNs(300000), 33333u);
    EXPECT_EQ(ByteTimeNs(9600), 1041666u);
}

TEST(SerialDoorPace, QueuedBytesCrossBackToBackFromWhenTheyWereQueued) {
    LinePace pace;
    pace.Started(5 * kMs);
    // 9600 baud: a byte every 1.0417 ms.
    EXPECT_EQ(pace.Crossed(100, 5 * kMs, 9600), 0u);
    EXPECT_EQ(pace.NextNs(9600), 5 * kMs + 1041666);
    EXPECT_EQ(pace.Crossed(100, 5 * kMs + 1041665, 9600), 0u);
    EXPECT_EQ(pace.Crossed(100, 5 * kMs + 1041666, 9600), 1u);
    EXPECT_EQ(pace.Crossed(100, 15 * kMs, 9600), 9u);
    EXPECT_EQ(pace.Crossed(3, 15 * kMs, 9600), 3u);  // never more than are waiting

    // Taking some leaves the rest crossing at the same rhythm, not restarted.
    pace.Took(4, 9600);
    EXPECT_EQ(pace.Crossed(100, 15 * kMs, 9600), 5u);
    pace.Took(5, 9600);
    EXPECT_EQ(pace.Crossed(100, 15 * kMs, 9600), 0u);
}

TEST(SerialDoorPace, AnIdleLineStartsAgainWhenBytesComeButNotBeforeItIsFree) {
    LinePace pace;
    pace.Started(0);
    pace.Took(10, 9600);  // busy until 10.4 ms
    // Bytes queued at 2 ms wait for the line; queued at 50 ms they start then, with no credit
    // for the idle time before.
    pace.Started(2 * kMs);
    EXPECT_EQ(pace.Crossed(100, 11 * kMs, 9600), 0u);
    EXPECT_EQ(pace.Crossed(100, 12 * kMs, 9600), 1u);
    pace.Took(1, 9600);
    pace.Started(50 * kMs);
    EXPECT_EQ(pace.Crossed(100, 50 * kMs + 1041665, 9600), 0u);
    EXPECT_EQ(pace.Crossed(100, 50 * kMs + 2 * 1041666, 9600), 2u);
}

TEST(SerialDoorPace, AnUnreadableRateHoldsNothingBack) {
    LinePace pace;
    pace.Started(7 * kMs);
    EXPECT_EQ(pace.Crossed(42, 0, 0), 42u);
}

}  // namespace
}  // namespace tavrel::sim
