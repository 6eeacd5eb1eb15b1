#pragma once
// The erase page's worker: brings the chip up over the chosen link and has it erase everything,
// runs of blocks, or a range of sectors.
#include <cstdint>
#include <vector>

#include "model/Catalogue.h"
#include "operations/EraseRequests.h"
#include "operations/RunContext.h"

namespace tavrel {

// What the erase page hands its worker at Erase.
struct EraseSettings {
    TargetSelection target;
    EraseMode mode = EraseMode::All;
    std::vector<uint32_t> blocks;  // ascending (block mode)
    uint32_t firstSector = 0;      // sector mode
    uint32_t lastSector = 0;
};

// Done when the erase succeeded, failed otherwise (after the failing step's message). Ends with
// the operation-finished report in every case. The link's message texts are the erase page's own.
[[nodiscard]] RunResult RunEraseWorker(const EraseSettings& settings, RunContext& context);

}  // namespace tavrel
