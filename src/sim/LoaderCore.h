#pragma once
// The simulated flash loader, independent of how packets reach it: one whole command packet in,
// the reply packet out. The mailbox driver (J-Link route) and the serial driver (UART route)
// both feed it. Besides doing the work on the flash it checks what the host sends — lengths,
// checksums, known codes, ranges inside the flash, writes inside the announced program range,
// writes only into erased flash — and records every breach.
//
// Packets: code (1 byte), L (16 bits, little-endian: the bytes after this header, CRC included),
// body, and the CRC-16/KERMIT of header and body stored as a 32-bit little-endian word.
// Replies: 0xB2 ready (no body), 0xB8 status (1 done, 2 busy, 3 failed, 4 bad packet), 0x95 data.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavrel::sim {

class NorFlash;
class Violations;

namespace loader_packet {
inline constexpr uint8_t kFinish = 0x08;
inline constexpr uint8_t kEraseAll = 0x11;
inline constexpr uint8_t kEraseBlocks = 0x12;
inline constexpr uint8_t kEraseSectors = 0x14;
inline constexpr uint8_t kProgramRange = 0x37;
inline constexpr uint8_t kWriteData = 0x50;
inline constexpr uint8_t kCheckFlashType = 0x53;
inline constexpr uint8_t kReadData = 0x5F;
inline constexpr uint8_t kReady = 0xB2;
inline constexpr uint8_t kStatus = 0xB8;
inline constexpr uint8_t kData = 0x95;

inline constexpr uint8_t kStatusDone = 1;
inline constexpr uint8_t kStatusBusy = 2;
inline constexpr uint8_t kStatusFailed = 3;
inline constexpr uint8_t kStatusBadPacket = 4;

inline constexpr uint32_t kMaxData = 8192;              // data bytes of one write or read
inline constexpr uint32_t kMaxCommand = kMaxData + 11;  // a write packet: header, offset, data, CRC
inline constexpr uint32_t kMaxReply = kMaxData + 7;     // a data reply
}  // namespace loader_packet

// A packet with L = body + 4 and its CRC.
std::vector<uint8_t> MakeLoaderPacket(uint8_t code, std::span<const uint8_t> body);

// Fault counters that outlive one loader run (they belong to the board).
struct LoaderFaults {
    uint32_t busyLeft = 0;
    uint32_t badCrcLeft = 0;
    bool badReadyCrc = false;
};

class LoaderCore {
public:
    // flashTypeCode: the code the flash part reports, or none when the board has no such part.
    // route: "mailbox" or "serial", for the violation texts.
    LoaderCore(NorFlash& flash, std::optional<int32_t> flashTypeCode, LoaderFaults& faults, Violations& violations,
               std::string route);

    std::vector<uint8_t> ReadyPacket() const;
    // The answer to one whole command packet; nothing for the finish command (the loader ends).
    std::optional<std::vector<uint8_t>> Serve(std::span<const uint8_t> packet);
    std::vector<uint8_t> StatusReply(uint8_t status) const;
    bool finished() const { return finished_; }

    static bool KnownCommand(uint8_t code);
    // Whether L suits the command: fixed for every command but write data (9 to 8200).
    static bool LengthFits(uint8_t code, uint32_t length);

private:
    std::vector<uint8_t> Failed(const std::string& what, const std::string& expected, uint8_t status);

    NorFlash& flash_;
    std::optional<int32_t> flashTypeCode_;
    LoaderFaults& faults_;
    Violations& violations_;
    std::string route_;
    std::optional<std::pair<uint32_t, uint32_t>> programRange_;
    bool finished_ = false;
};

}  // namespace tavrel::sim
