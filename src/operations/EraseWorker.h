#pragma once
// The erase page's worker: brings the chip up over the chosen link and has it erase everything,
// runs of blocks, or a range of sectors.
#include <cstdint>
#include <vector>

#include "model/Catalogue.h"
#include "model/OperationHost.h"
#include "operations/EraseRequests.h"
#include "operations/FlashSession.h"
#include "operations/LinkSeams.h"
#include "platform/UserPrompt.h"

namespace tavrel {

// What the erase page hands its worker at Erase.
struct EraseSettings {
    TargetSelection target;
    EraseMode mode = EraseMode::All;
    std::vector<uint32_t> blocks;  // ascending (block mode)
    uint32_t firstSector = 0;      // sector mode
    uint32_t lastSector = 0;
};

// 0 when the erase succeeded, -1 otherwise (after the failing step's message). Ends with the
// operation-finished report in every case. link: what the owner keeps between operations (the
// boot ROM's lock) and how the serial line waits; its message texts are the erase page's own.
int RunEraseWorker(const EraseSettings& settings, LinkSeams& seams, OperationHost& host, UserPrompt& prompt,
                   SessionOptions link = {});

}  // namespace tavrel
