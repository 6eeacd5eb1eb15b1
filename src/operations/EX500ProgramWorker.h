#pragma once
// The KR2E500-group program page's worker: a HEX image behind its 32-byte boot header (the header
// written last), a plain bin file at a flash offset, or an advanced bin placed by its ".cfg" map,
// over the J-Link loader or the serial loader the framed boot ROM takes.
#include "operations/ExProgramRequest.h"
#include "operations/ProgramWorker.h"

namespace tavrel {

inline constexpr const char* kNotAValidBinFile = " It is not a valid bin file ! ";

// Runs one program operation: "Flash loading start" at 0, "Flash Success" or "Flash Failed" at
// 100, temporary files removed, and always the finished report (program, KR2E500-group page).
// Done when the flash was programmed (and verified when asked).
[[nodiscard]] RunResult RunEX500Program(const ExProgramRequest& request, RunContext& context);

}  // namespace tavrel
