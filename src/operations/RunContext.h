#pragma once
// What each of the five workers runs with, and how a run ends. The owner (the main window, the
// command line, a test) builds one context per run; what it keeps from one operation to the next
// (the serial boot ROM's lock) and what it knows before the run (a framed password) travel in
// `link`, so every operation sees them alike.
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "model/Catalogue.h"
#include "model/OperationHost.h"
#include "operations/FlashSession.h"
#include "operations/LinkSeams.h"
#include "platform/UserPrompt.h"

namespace tavrel {

// Results, in the links and the operations alike: a step says whether it worked as a bool (true:
// done) unless its protocol has result codes, which stay ints (0 done, the negative codes its
// comment lists); a worker's whole run ends as a RunResult. Each of them is [[nodiscard]]. The
// function that finds a failure shows it (a message, or a detail on the terminal) before it
// returns, so its callers only pass the result on; a call whose result is deliberately not
// checked says so with static_cast<void> and the reason.
//
// How a run ended; the values are the operations' result codes.
enum class RunResult : int { Done = 0, Failed = -1 };

[[nodiscard]] inline bool Succeeded(RunResult result) { return result == RunResult::Done; }
[[nodiscard]] inline RunResult RunResultOf(bool done) { return done ? RunResult::Done : RunResult::Failed; }
// 0 when the run did its work, -1 otherwise.
[[nodiscard]] inline int ResultCode(RunResult result) { return static_cast<int>(result); }

// Opens the session a run works through, with the worker's bring-up reports and the link options
// (the context's, with the worker's own message texts); null after the failing step has said why.
using FlashSessionFactory = std::function<std::unique_ptr<FlashSession>(
    const TargetSelection& selection, const BringUpReport& report, const SessionOptions& options)>;

struct RunContext {
    OperationHost& host;
    UserPrompt& prompt;
    std::string workFolder;    // as the settings chose it
    std::string loaderFolder;  // empty: "config" beside the program
    FlashSessionFactory openSession;
    // The owner's lock state, the up-front framed password and the serial timings.
    SessionOptions link;
};

// The production context: the real links, as the seams choose them.
inline RunContext MakeRunContext(LinkSeams& seams, OperationHost& host, UserPrompt& prompt, SessionOptions link = {}) {
    return RunContext{host, prompt, seams.workFolder(), seams.loaderFolder(),
                      [&seams, &host, &prompt](const TargetSelection& selection, const BringUpReport& report,
                                               const SessionOptions& options) {
                          return OpenFlashSession(selection, seams, host, prompt, report, options);
                      },
                      std::move(link)};
}

}  // namespace tavrel
