#pragma once
// program --skip-unchanged: the sectors a program plan writes are read first; those that already
// hold the plan's bytes are neither erased nor written, the others are erased and written sector
// by sector (with what the plan writes there, and what the flow itself keeps through an erase).
#include <cstdint>

#include "model/OperationHost.h"
#include "operations/FlashSession.h"
#include "operations/ProgramPlan.h"

namespace tavrel {

struct SkipUnchangedResult {
    enum class Outcome { Done, HeaderChanges, Failed };
    Outcome outcome = Outcome::Failed;
    uint32_t sectors = 0;    // 4 KiB sectors the plan writes into
    uint32_t unchanged = 0;  // of them, those that already held their bytes
    uint32_t erased = 0;     // sectors erased (and written where the plan has bytes that are not 0xFF)
    uint32_t writes = 0;     // write commands sent
    uint32_t headerOffset = 0;  // HeaderChanges: the first boot header byte the flash holds otherwise
};

// headerBytes: the plan's bytes below this offset are the boot header; when the flash holds
// another one, nothing is erased or written (HeaderChanges). wordReads: DFU reads whole words.
// Progress goes to `host` as "Reading flash..." then "Download Target Image File".
SkipUnchangedResult ProgramChangedSectors(FlashSession& session, const ProgramPlan& plan, uint32_t headerBytes,
                                          OperationHost& host);

}  // namespace tavrel
