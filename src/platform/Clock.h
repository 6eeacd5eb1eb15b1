#pragma once
#include <cstdint>

namespace tavrel {

// Every bounded wait asks a Clock for the time and for sleeping, so tests can drive a
// 90-second bound in microseconds with a ManualClock.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds on a monotonic scale; only differences mean anything.
    virtual uint64_t NowMs() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
};

class SteadyClock final : public Clock {
public:
    uint64_t NowMs() override;
    void SleepMs(uint32_t ms) override;
};

// A clock that only moves when told to, or when somebody sleeps on it.
class ManualClock final : public Clock {
public:
    explicit ManualClock(uint64_t startMs = 0) : now_(startMs) {}
    uint64_t NowMs() override { return now_; }
    void SleepMs(uint32_t ms) override { now_ += ms; }
    void Advance(uint64_t ms) { now_ += ms; }

private:
    uint64_t now_;
};

// The process's real clock.
Clock& SystemClock();

}  // namespace tavrel
