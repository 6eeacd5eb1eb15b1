#pragma once
// The requests an erase over the flash loader sends, by erase mode: one erase-all, one request
// per run of consecutive blocks, or sector pairs of at most 20 sectors sharing their bounds.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrel {

enum class EraseMode { All = 0, Blocks = 1, Sectors = 2 };

struct EraseRequest {
    EraseMode kind = EraseMode::All;
    uint32_t first = 0;  // blocks or sectors; unused for All
    uint32_t last = 0;

    bool operator==(const EraseRequest&) const = default;
};

// blocks: the selected block numbers (any order); firstSector..lastSector for sector mode.
// An empty block selection plans nothing.
std::vector<EraseRequest> PlanLoaderErase(EraseMode mode, const std::vector<uint32_t>& blocks, uint32_t firstSector,
                                          uint32_t lastSector);

// The UART erase spreads this much progress over its sector requests.
inline constexpr uint32_t kUartEraseProgress = 2000;
// The progress each sector request but the last adds: 2000 divided by the number of requests.
// One request (first sector = last sector) adds its share too, never a division by zero.
uint32_t UartEraseProgressStep(size_t requests);

}  // namespace tavrel
