#pragma once
// One direction of the serial door's line when it runs at the rate the host set, as a UART does:
// a byte takes 10 bit times to cross (start bit, 8 data bits, stop bit), and bytes queued behind
// each other cross back to back. Times are nanoseconds on the steady clock, so that a byte time
// (87 us at 115200 baud) is not rounded to the millisecond of the door's other timers.
#include <cstddef>
#include <cstdint>

namespace tavrel::sim {

// The steady clock in nanoseconds (the same scale as SystemClock().NowMs(), times 10^6).
uint64_t PaceNowNs();

// How long one byte takes on a line at baud (nothing crosses slower at 0: an unreadable rate).
uint64_t ByteTimeNs(uint32_t baud);

class LinePace {
public:
    // Bytes joined an empty queue at nowNs: the first starts crossing now, or once the byte still
    // on the line has crossed.
    void Started(uint64_t nowNs);
    // How many of `waiting` queued bytes have crossed by nowNs.
    size_t Crossed(size_t waiting, uint64_t nowNs, uint32_t baud) const;
    // The first `count` queued bytes were taken off the line.
    void Took(size_t count, uint32_t baud);
    // When the byte now at the head of the queue has crossed.
    uint64_t NextNs(uint32_t baud) const { return headStartNs_ + ByteTimeNs(baud); }

private:
    uint64_t headStartNs_ = 0;  // when the head of the queue started crossing (the line's free time)
};

}  // namespace tavrel::sim
