#pragma once
// The bounds of the serial line's waits, apart from the line itself, so that what carries them
// (the session's options) need not know the port.
#include <cstdint>

namespace tavrel {

// The bounds of every wait on the line, in milliseconds. The defaults are the programmer's;
// tests shorten them where a real line would otherwise keep them waiting.
struct UartTimings {
    uint32_t readMs = 10000;          // most single reads
    uint32_t syncWindowMs = 20000;    // the whole boot-ROM sync of the KR2E500 group
    uint32_t syncByteMs = 1000;       // each byte read while syncing
    uint32_t replyHeaderMs = 90000;   // a loader reply's header (the loader may be erasing)
    uint32_t readyByteMs = 1000;      // each byte read while waiting for the loader's ready packet,
                                      // and each round of that wait as a whole
    uint32_t unlockLimitMs = 120000;  // how long an unlock may wait for the ROM's answer
    uint32_t handshakeSettleMs = 140; // before counting the ROM's handshake bytes
    uint32_t eraseSettleMs = 20;      // after asking a locked ROM to erase
    uint32_t passwordPollMs = 100;    // between reads while a password is checked
    uint32_t framePauseMs = 1;        // before each framed-protocol write frame
    uint32_t lockedSilenceMs = 1000;  // a framed ROM's silence after the parameter frame before the
                                      // password is asked for (beside the bytes' line time): it
                                      // answers a frame it takes at once; readMs still decides
};

// The timings with every bound of a wait (not the pauses and settle times, which the protocol
// needs as they are) at `percent` of its own, at least 1 ms; 100 or more leaves them as they are.
UartTimings ShortenedWaits(UartTimings timings, uint32_t percent);

}  // namespace tavrel
