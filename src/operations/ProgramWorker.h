#pragma once
// The KR2A600 program page's worker: one run from the request to the finished report. The
// J-Link and UART flows are one flow over FlashSession; they differ in values (chunk size, status
// texts, progress steps) and in small branches (messages over UART, the flash segments' range
// command over J-Link, verification progress over UART).
#include <functional>
#include <memory>
#include <string>

#include "model/OperationHost.h"
#include "operations/FlashSession.h"
#include "operations/LinkSeams.h"
#include "operations/ProgramRequest.h"
#include "platform/UserPrompt.h"

namespace tavrel {

inline constexpr const char* kVerifyFail = "Verify Fail";
inline constexpr const char* kVerifySuccess = "Verify Sucess";

// Opens the session the run works through; null after the failing step has said why.
using FlashSessionFactory =
    std::function<std::unique_ptr<FlashSession>(const TargetSelection& selection, const BringUpReport& report)>;

// The production factory: the real links, as the seams choose them.
inline FlashSessionFactory OpenFlashSessionWith(LinkSeams& seams, OperationHost& host, UserPrompt& prompt) {
    return [&seams, &host, &prompt](const TargetSelection& selection, const BringUpReport& report) {
        return OpenFlashSession(selection, seams, host, prompt, report);
    };
}

struct ProgramContext {
    OperationHost& host;
    UserPrompt& prompt;
    std::string workFolder;    // as the settings chose it
    std::string loaderFolder;  // empty: "config" beside the program
    FlashSessionFactory openSession;
};

// Runs the program operation for the request: prepares, runs the interface's flow, reports
// "Flash Success" or "Flash Failed" at 100, removes the temporary files and always ends with the
// finished report (program, KR2A600 page). True when the flash was programmed.
bool RunProgram(const ProgramRequest& request, ProgramContext& context);

}  // namespace tavrel
