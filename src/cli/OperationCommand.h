#pragma once
// What erase, read and program share: the options that choose the board and its link, filled
// into the main window and its panels as a person would, and the run of a page's worker followed
// by what the main window does when it finishes (closing the probe or the serial port).
#include <functional>
#include <string>

#include "app/CCorvaneDlg.h"
#include "app/Seams.h"
#include "cli/Options.h"
#include "cli/ProgressBar.h"
#include "cli/TerminalPrompt.h"
#include "operations/BootHeader.h"
#include "operations/EX500BootHeader.h"
#include "operations/FlashSession.h"
#include "operations/RunContext.h"
#include "production/Identity.h"
#include "production/IdentityPatch.h"

namespace tavrel::cli {

// --chip, --interface, --speed, --probe, --port, --baud, --usb-id, --usb-path, --usb-sim, --flash-type,
// --flash-location, --loader-dir, --unlock-password, --unlock-erase.
void DeclareTargetOptions(Options& options);

struct OperationContext {
    CCorvaneDlg& window;
    Seams& seams;
    ProgressBar& progress;
    TerminalPrompt& prompt;
    // The link options every worker of this run gets: the up-front framed password.
    SessionOptions& link;
    // A settings file set the window and the page up: options change only what they name.
    bool loaded = false;
    // The command being run ("program", "verify", ...), for its messages.
    std::string command = "program";
    // verify: the page's flow runs against a recorder and the flash is compared with what it
    // would write; nothing is erased or written.
    bool verifyOnly = false;
    // program on a production line: this board's identity, written with the image.
    std::optional<production::Identity> identity = std::nullopt;
    // program on a production line: this board's row of the board-data file, written with the
    // image; with checkIdentityOnly, every place the line's rows take (their bytes stand in).
    std::vector<production::Identity> boardData = {};
    // --check-identity: the identity's place checked against the run's plan; nothing is touched.
    bool checkIdentityOnly = false;
    // --skip-unchanged: the plan's sectors read first; only those that differ erased and written.
    bool skipUnchanged = false;
};

// With an identity: the page's flow recorded against a stand-in for the link, the identity
// checked against what it erases and where the boot header lies. 0 when it may go there; 2 (the
// message printed) when not; 1 when the flow failed (it has said why).
// imageChecked: the boot header checks the image's bytes, so the identity must lie outside them.
// what: the identity's origin for the message ("--serial-number-at", a board-data file's line).
int CheckIdentityAgainstPlan(OperationContext& context, const std::function<RunResult(RunContext& run)>& flow,
                             ProgramPageKind page, const production::Identity& identity, bool imageChecked,
                             const std::string& what);

// verify: the flow (a program page's worker over the context it is given) run against a recorder,
// then the flash compared with what it wrote over the real link. 0 equal, 1 otherwise.
int VerifyProgramPlan(OperationContext& context, const std::function<RunResult(RunContext& run)>& flow,
                      ProgramPageKind page);

// program --skip-unchanged: the flow recorded against a stand-in link, then over the real link
// the sectors it writes read first and only those that differ erased and written (a boot header
// below headerBytes that differs is refused, nothing touched); verified when the page verifies.
int ProgramSkippingUnchanged(OperationContext& context, const std::function<RunResult(RunContext& run)>& flow,
                             ProgramPageKind page, uint32_t headerBytes);

// The end of every program page's run: Start has given a request (none: the page has said why,
// exit 1); the window is locked, the page's worker runs over the real links, the window's done
// report follows. 0 when the flash was programmed.
template <typename Request>
int RunProgramRequest(OperationContext& context, const std::optional<Request>& request,
                      RunResult (*worker)(const Request&, RunContext&), ProgramPageKind page) {
    if (!request) return 1;
    if (context.verifyOnly)
        return VerifyProgramPlan(context, [&](RunContext& run) { return worker(*request, run); }, page);
    if (context.identity || !context.boardData.empty()) {
        // A boot header that checks the image's bytes (a CRC, the KR2H70X signature) would no
        // longer match an image with the identity inside it.
        bool imageChecked = page == kPageHX700;
        if constexpr (requires { request->crcMode; }) imageChecked = request->fileType == "HEX" && request->crcMode != kNoCrc;
        if constexpr (requires { request->crcIndex; }) imageChecked = request->fileType == "HEX" && request->crcIndex != kEX500NoCrc;
        const auto flow = [&](RunContext& run) { return worker(*request, run); };
        if (context.identity) {
            const int placed = CheckIdentityAgainstPlan(context, flow, page, *context.identity, imageChecked,
                                                        "--serial-number-at");
            if (placed != 0) return placed;
        }
        for (const production::Identity& row : context.boardData) {
            const int placed = CheckIdentityAgainstPlan(context, flow, page, row, imageChecked, "--board-data: " + row.text);
            if (placed != 0) return placed;
        }
        if (context.checkIdentityOnly) return 0;
    }
    if (context.skipUnchanged) {
        // The boot header the page makes in front of a HEX image: KR2A600 its first sector,
        // the KR2E500 group its 32 bytes.
        uint32_t headerBytes = 0;
        if constexpr (requires { request->crcMode; }) headerBytes = request->fileType == "HEX" ? kSramDataOffset : 0;
        if constexpr (requires { request->crcIndex; })
            headerBytes = request->fileType == "HEX" ? static_cast<uint32_t>(kEX500HeaderSize) : 0;
        return ProgramSkippingUnchanged(context, [&](RunContext& run) { return worker(*request, run); }, page, headerBytes);
    }
    context.window.LockForRun();
    RunContext run = MakeRunContext(context.seams, context.progress, context.prompt, context.link);
    const auto failed = [&context](const std::string& reason) { context.prompt.ShowMessage(reason, MessageIcon::Error); };
    if (context.identity) run.openSession = production::PatchIdentity(std::move(run.openSession), *context.identity, failed);
    for (const production::Identity& row : context.boardData)
        run.openSession = production::PatchIdentity(std::move(run.openSession), row, failed);
    const RunResult result = worker(*request, run);
    context.window.OnOperationDone(kOperationProgram, page);
    return Succeeded(result) ? 0 : 1;
}

// --reset, for program, verify and erase.
void DeclareResetOption(Options& options);

// --settings FILE, for program, erase and read.
void DeclareSettingsOption(Options& options);

// Reads the target options into the main window (a usage error names the option), then runs
// `operation` (its exit status) and closes the link it left open. Ctrl-C or SIGTERM during the
// run makes it fail at the link's next wait; the status is then 128 + the signal's number.
// --port given several times runs the job once per port, each in a process of its own (RunBoards).
int RunOperation(const std::string& commandName, const Options& options,
                 const std::function<int(OperationContext& context)>& operation);

// An address or length option as the page's fields take it (NumberFieldText: hexadecimal with or
// without "0x", or a count with K or M); none when that is not 1 to 8 hexadecimal digits.
std::optional<std::string> HexDigits(const std::string& text);

}  // namespace tavrel::cli
