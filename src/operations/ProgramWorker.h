#pragma once
// The KR2A600 program page's worker: one run from the request to the finished report. The
// J-Link and UART flows are one flow over FlashSession; they differ in values (chunk size, status
// texts, progress steps) and in small branches (messages over UART, the flash segments' range
// command over J-Link, verification progress over UART).
#include "operations/ProgramRequest.h"
#include "operations/RunContext.h"

namespace tavrel {

inline constexpr const char* kVerifyFail = "Verify Fail";
inline constexpr const char* kVerifySuccess = "Verify Sucess";

// Runs the program operation for the request: prepares, runs the interface's flow, reports
// "Flash Success" or "Flash Failed" at 100, removes the temporary files and always ends with the
// finished report (program, KR2A600 page). Done when the flash was programmed.
[[nodiscard]] RunResult RunProgram(const ProgramRequest& request, RunContext& context);

}  // namespace tavrel
