#pragma once
// The simulated flash loader, independent of how packets reach it: one whole command packet in,
// the reply packet out. The mailbox driver (J-Link route) and the serial driver (UART route)
// both feed it. Besides doing the work on the flash it checks what the host sends — lengths,
// checksums, known codes, ranges inside the flash, writes inside the announced program range,
// writes only into erased flash — and records every breach.
//
// The packet layout and its codes are those of model/LoaderProtocol.h.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/LoaderProtocol.h"

namespace tavrel::sim {

class NorFlash;
class Violations;

// A packet with L = body + 4 and its CRC.
std::vector<uint8_t> MakeLoaderPacket(uint8_t code, std::span<const uint8_t> body);

// Fault counters that outlive one loader run (they belong to the board).
struct LoaderFaults {
    uint32_t busyLeft = 0;
    uint32_t badCrcLeft = 0;
    bool badReadyCrc = false;
    uint32_t corruptWrite = 0;  // the write-data command stored wrong (from 1); 0: none
    uint32_t writesSeen = 0;
    uint32_t dieAt = 0;  // the command at which the board's process ends (from 1); 0: never
    uint32_t commandsSeen = 0;
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
