#pragma once
// The serial faults of a board (serial-drop, serial-garble): applied by the serial door to every
// byte the board sends, boot ROM and loader alike, counted from 1 over the whole session.
#include <cstdint>
#include <span>
#include <vector>

#include "sim/SimConfig.h"

namespace tavrel::sim {

class SerialLineFaults {
public:
    explicit SerialLineFaults(const SimConfig& config) : drop_(config.serialDrop), garble_(config.serialGarble) {}

    // The bytes as they reach the host.
    std::vector<uint8_t> Outgoing(std::span<const uint8_t> bytes);
    uint64_t sent() const { return sent_; }

private:
    std::vector<uint64_t> drop_;
    std::vector<uint64_t> garble_;
    uint64_t sent_ = 0;
};

}  // namespace tavrel::sim
