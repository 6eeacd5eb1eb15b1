#pragma once
// The KR2E500-group run's header words from its request, and the preparation of a HEX image:
// converted into the SRAM temporary file, checked against the family's windows and the flash,
// and its header completed (length, load and entry address, CRC).
#include <string>

#include "model/ImageSegment.h"
#include "operations/EX500BootHeader.h"
#include "operations/ExProgramRequest.h"
#include "platform/UserPrompt.h"

namespace tavrel {

inline constexpr const char* kNotAValidHexFile = " It is not a valid hex file ! ";

// The reset words; a plain bin's load word holds its flash start address; a HEX run's BootConfigA,
// BootConfigB and password come from the request's choices.
EX500HeaderWords EX500RequestWords(const ExProgramRequest& request);

// Converts the request's HEX image into sramPath with its segment list and completes words.
// False after a message (a conversion's own, or " It is not a valid hex file ! " for a segment
// outside the family's windows or an image that with its header exceeds the flash); false without
// one when the converted file does not hold the segments' bytes.
[[nodiscard]] bool PrepareEX500Hex(UserPrompt& prompt, const ExProgramRequest& request, const std::string& sramPath,
                     SegmentList& sram, EX500HeaderWords& words);

}  // namespace tavrel
