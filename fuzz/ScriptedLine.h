#pragma once
// A serial line whose other side "sends" the fuzz input. The input comes in bursts, each a length
// byte and that many bytes: a read of N bytes takes them across bursts, while reading what is
// already queued stops at the end of a burst (what had arrived so far). A read the input cannot
// fill takes nothing and lets its whole time-out pass on the clock. Writes always succeed.
//
// An endless line is a device that never stops sending: the bursts start again from the front
// when they are used up (an input of no bytes sends zeros), what is queued never runs dry, and
// each byte costs a millisecond on the clock (about 9600 baud), so a read of more bytes than
// its time-out has milliseconds fails. Any read after boundMs on the
// clock (0: none) is a finding: the receive path outlasted its bound.
#include <span>
#include <vector>

#include "links/UartLine.h"
#include "platform/Clock.h"

namespace tavrel::fuzz {

// The line's bounds in the endless mode: the programmer's, each cut to a fiftieth, so that a run
// through every bound takes thousands of scripted bytes rather than millions.
UartTimings EndlessTimings();

class ScriptedLine final : public UartLine {
public:
    ScriptedLine(UserPrompt& prompt, ManualClock& clock, std::span<const uint8_t> bursts, bool endless = false,
                 uint64_t boundMs = 0, const char* path = "UART line", UartTimings timings = {});

    size_t ReadComBytes(uint8_t* buffer, size_t count, uint32_t timeoutMs) override;
    size_t ReadComAvailable(uint8_t* buffer, size_t maximum) override;
    bool WriteComBytes(const uint8_t*, size_t) override { return true; }
    void Flush() override {}

private:
    size_t Endless(uint8_t* buffer, size_t count, bool toBurstEnd);

    ManualClock& clock_;
    std::vector<uint8_t> stream_;
    std::vector<size_t> burstEnds_;
    size_t pos_ = 0;
    bool atBurstEnd_ = false;  // the last queued read ended a burst: the next one finds nothing
    bool endless_;
    uint64_t boundMs_;
    const char* path_;
};

}  // namespace tavrel::fuzz
