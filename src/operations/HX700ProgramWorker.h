#pragma once
// The KR2H70X program page's worker: a ready boot image written unchanged at the typed flash
// offset over the J-Link loader, the serial loader or the USB DFU boot ROM.
#include "operations/HX700ProgramRequest.h"
#include "operations/ProgramWorker.h"

namespace tavrel {

inline constexpr const char* kInvalidImageFile = "Invalid image file";
inline constexpr const char* kImageOutOfFlash = "Image file is out of flash memory!";

// Runs one program operation: "Flash loading start" at 0, "Flash Success" or "Flash Failed" at
// 100, temporary files removed, and always the finished report (program, KR2H70X page). Done when
// the flash was programmed (and verified when asked).
[[nodiscard]] RunResult RunHX700Program(const HX700ProgramRequest& request, RunContext& context);

}  // namespace tavrel
