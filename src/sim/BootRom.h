#pragma once
// The boot ROMs of the serial route, written from the chip's side: what the ROM sends after a
// reset, how it answers each byte the host sends, and when it gives up waiting. The request
// protocol belongs to KR2A600 and KR2H70X, the framed protocol to the KR2E500 group. Both load
// the UART loader into SRAM and start it; every malformed thing the host sends is recorded.
//
// A ROM is driven by the serial door: bytes in, bytes out, and a timer for what the ROM does on
// its own (a late state byte, the sync announcement, a line gone quiet in the middle of a block).
// Times are milliseconds on the door's monotonic clock.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavrel::sim {

class Board;

// What the serial door does beyond the board's config: the ROMs' timing, and faults a test wants
// at one exact point of a protocol.
struct SerialDoorOptions {
    uint32_t romStateDelayMs = 300;  // request ROM: its state byte follows the handshake bytes this late
    uint32_t syncBeaconMs = 500;     // framed ROM: between two sync announcements
    uint32_t quietMs = 250;          // a line quiet this long breaks off a half-received block or frame
    uint32_t requestRepeatMs = 4000; // request ROM: a request nobody answered is sent again
    uint32_t eraseMs = 50;           // request ROM: how long erasing all flash takes
    // The line carries a byte in 10 bit times at the rate the host set, both ways, as a UART does;
    // off, bytes cross as fast as the pseudo-terminal moves them (fast tests).
    bool pacedLine = false;

    // Request ROM: how many bytes the ROM answers the 1st, 2nd, ... handshake with (4 when not
    // listed). An answer of any other length carries no state byte.
    std::vector<int> handshakeLengths;
    // Request ROM: when nonzero, the first request of a download asks for this many bytes; the
    // host must refuse it (0x5C) before the real requests follow.
    uint32_t firstRequestCount = 0;

    // Framed ROM: the sync character ('#' or ':') and the digit after "OK" in its answer.
    uint8_t syncCharacter = '#';
    uint8_t syncAnswerDigit = '0';

    // Bytes from the host the line loses or garbles (inverts), counted from 1 over a session.
    std::vector<uint64_t> incomingDrop;
    std::vector<uint64_t> incomingGarble;
};

// ROM state that outlives a reset: the lock (only erasing all flash removes it).
struct RomState {
    bool locked = false;
};

class SerialRom {
public:
    virtual ~SerialRom() = default;
    // The chip comes out of reset (the host has opened the port): what the ROM sends first.
    virtual std::vector<uint8_t> PowerOn(uint64_t now) = 0;
    // Bytes from the host, sent at lineBaud (the rate the host set on the line; 0 when it cannot
    // be read). The ROM takes bytes until it has started the loader; `taken` tells how many (the
    // rest belong to the loader).
    virtual std::vector<uint8_t> Receive(std::span<const uint8_t> bytes, uint64_t now, uint32_t lineBaud,
                                         size_t& taken) = 0;
    // The rate the ROM has taken for the rest of the session (the loader keeps it), once it has:
    // the request ROM measures it on the handshake byte, the framed ROM is told it in the
    // parameter word.
    virtual std::optional<uint32_t> sessionBaud() const = 0;
    // When the ROM next wants Timer() called, if at all.
    virtual std::optional<uint64_t> NextTimer() const = 0;
    virtual std::vector<uint8_t> Timer(uint64_t now) = 0;
    // The loader runs (the ROM has handed the line over).
    virtual bool loaderStarted() const = 0;
    // The ROM has gone to sending noise for the rest of the session (a noisy board).
    virtual bool sendsNoise() const { return false; }
};

// events: what the ROM did, one short line each ("hello", "request 16", "password accepted", ...).
std::unique_ptr<SerialRom> MakeBootRom(Board& board, const SerialDoorOptions& options, RomState& state,
                                       std::vector<std::string>& events);

// The two protocols; MakeBootRom picks the family's.
std::unique_ptr<SerialRom> MakeRequestRom(Board& board, const SerialDoorOptions& options, RomState& state,
                                          std::vector<std::string>& events);
std::unique_ptr<SerialRom> MakeFramedRom(Board& board, const SerialDoorOptions& options, RomState& state,
                                         std::vector<std::string>& events);

// CRC-16/KERMIT as the ROM computes it over blocks and headers.
uint32_t RomCrc(std::span<const uint8_t> bytes);

}  // namespace tavrel::sim
