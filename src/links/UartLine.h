#pragma once
// The serial line of the UART route: the process's one serial port and the waits on it. The boot
// ROMs (UartRequestRom, UartFramedRom) and the loader channel (UartLoaderChannel) talk through it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "platform/UserPrompt.h"

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

// The process has one serial port; opening closes any earlier one. The main window (or the
// command) closes it after each operation.
SerialPort& ProcessComPort();
void CloseComPort();

// The port's byte moves are virtual so that a scripted line can stand in for the port (the fuzz
// targets feed the boot ROMs and the loader channel arbitrary answers through one).
class UartLine {
public:
    // prompt: where the line's users show their messages; clock: every wait's time.
    explicit UartLine(UserPrompt& prompt, Clock& clock = SystemClock(), UartTimings timings = {});
    virtual ~UartLine() = default;
    UartLine(const UartLine&) = delete;
    UartLine& operator=(const UartLine&) = delete;

    // Shows its own messages on failure.
    bool OpenComPort(const std::string& portName, uint32_t baudRate);
    // count when exactly that many bytes were read, 0 when the time-out passed first.
    virtual size_t ReadComBytes(uint8_t* buffer, size_t count, uint32_t timeoutMs);
    // The bytes already queued, at most `maximum`, without waiting.
    virtual size_t ReadComAvailable(uint8_t* buffer, size_t maximum);
    virtual bool WriteComBytes(const uint8_t* data, size_t count);
    // Waits until everything written has left the port.
    virtual void Flush();
    // Drops whatever has been received and not yet read. False when the line does not fall
    // quiet within readMs (a device that keeps sending): what follows would be noise too.
    [[nodiscard]] bool DiscardQueued();

    // A failure's message (modal, error icon).
    void Fail(const std::string& text);

    // The port last opened, for messages.
    const std::string& portName() const { return portName_; }

    UserPrompt& prompt() { return prompt_; }
    Clock& clock() { return clock_; }
    const UartTimings& timings() const { return timings_; }

private:
    UserPrompt& prompt_;
    Clock& clock_;
    UartTimings timings_;
    std::string portName_;
};

}  // namespace tavrel
