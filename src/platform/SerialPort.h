#pragma once
// A serial device on a POSIX system: 8 data bits, no parity, one stop bit, raw bytes, no flow
// control of any kind. Every wait blocks on the descriptor with poll(), never in a busy loop.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace tavrel {

struct SerialOpenResult {
    enum class Failure { None, Open, NotReady, Settings };
    Failure failure = Failure::None;
    std::string systemText;  // the system's own words for the error, when it has some

    bool ok() const { return failure == Failure::None; }
};

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device for exclusive use and sets the line up; closes any earlier device first.
    SerialOpenResult Open(const std::string& path, uint32_t baudRate);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    // Waits until every byte written so far has left the port. Received bytes and bytes still
    // to be sent are never discarded.
    bool Drain();

    // Bytes received and not yet taken.
    size_t Queued();

    // Takes up to `maximum` of the bytes already received, without waiting.
    size_t ReadAvailable(uint8_t* buffer, size_t maximum);

    // Waits until `count` bytes have arrived, then takes exactly that many. Gives 0 (taking
    // nothing) when `timeoutMs` passes first; the clock measures the bound, the descriptor is
    // waited on with poll().
    size_t ReadExact(uint8_t* buffer, size_t count, uint32_t timeoutMs, Clock& clock);

    // Writes every byte; waits for room with poll(), at most `timeoutMs` in all.
    bool WriteAll(const uint8_t* data, size_t count, uint32_t timeoutMs);

    // The rate the line runs at, as the driver reports it (0 when closed).
    uint32_t CurrentBaudRate() const;

private:
    // Moves everything the driver holds into our receive buffer. False on a hang-up or error.
    bool Pump();

    int fd_ = -1;
    std::string path_;
    std::vector<uint8_t> received_;  // bytes taken from the driver, not yet given out
    size_t receivedStart_ = 0;
};

// The bytes every serial port of this process has moved so far: what the programmer read from its
// ports and what it wrote to them (the production line's summary shows them per board).
struct SerialTraffic {
    uint64_t written = 0;
    uint64_t read = 0;
};
SerialTraffic SerialTrafficSoFar();

// The rate a terminal's line is set to (of a pseudo-terminal's master: the rate its slave side
// was set to), or 0 when it cannot be read.
uint32_t TerminalBaudRate(int fd);

// The rates the link settings offer: the standard ones and 14400, 56000 and 300000, which the
// line sets through the arbitrary-rate interface.
bool IsSupportedBaudRate(uint32_t baudRate);

// The serial devices of this machine, in a stable order: every tty whose device has a driver
// bound (on-board UARTs, USB serial adapters, ...), skipping legacy UART slots without
// hardware. None when the device folder cannot be read at all. sysfsClassTty is the folder to
// look in (the real one unless a test passes another).
std::optional<std::vector<std::string>> ListSerialPorts(const std::filesystem::path& sysfsClassTty = "/sys/class/tty",
                                         const std::filesystem::path& deviceFolder = "/dev");

}  // namespace tavrel
