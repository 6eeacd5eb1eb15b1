#pragma once
// The serial line of the UART route: the process's one serial port and the waits on it. The boot
// ROMs (UartRequestRom, UartFramedRom) and the loader channel (UartLoaderChannel) talk through it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "links/UartTimings.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "platform/UserPrompt.h"

namespace tavrel {

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
    [[nodiscard]] bool OpenComPort(const std::string& portName, uint32_t baudRate);
    // count when exactly that many bytes were read, 0 when the time-out passed first.
    virtual size_t ReadComBytes(uint8_t* buffer, size_t count, uint32_t timeoutMs);
    // The bytes already queued, at most `maximum`, without waiting.
    virtual size_t ReadComAvailable(uint8_t* buffer, size_t maximum);
    [[nodiscard]] virtual bool WriteComBytes(const uint8_t* data, size_t count);
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
