// program --skip-unchanged: the page's flow recorded once against a stand-in link (what program
// would write, boot header included), then over the real link only the sectors that differ
// erased and written, and the whole plan verified when the page verifies.
#include <cstdint>
#include <cstdio>

#include "cli/OperationCommand.h"
#include "model/FamilyProfile.h"
#include "operations/ProgramPlan.h"
#include "operations/SkipUnchanged.h"

namespace tavrel::cli {

int ProgramSkippingUnchanged(OperationContext& context, const std::function<RunResult(RunContext& run)>& flow,
                             ProgramPageKind page, uint32_t headerBytes) {
    ProgramPlan plan;
    SilentHost silent;
    RunContext recording{silent, context.prompt, context.seams.workFolder(), context.seams.loaderFolder(),
                         RecordPlanWith(plan), context.link};
    // A flow that fails here has said why (a missing image, a field out of range).
    if (!Succeeded(flow(recording))) return 1;
    if (plan.writes.empty()) {
        std::fprintf(stderr, "tavrel-cli program: the image writes nothing\n");
        return 1;
    }
    const TargetSelection target = context.window.Snapshot();
    const bool usb = target.Interface() == InterfaceKind::Usb;
    context.window.LockForRun();
    bool ok = false;
    SkipUnchangedResult result;
    std::optional<PlanComparison> comparison;
    {
        auto session = OpenFlashSession(
            target, context.seams, context.progress, context.prompt,
            [&](BringUpStep step, uint32_t) {
                if (step == BringUpStep::Connecting) context.progress.ReportProgress(0, "Connect...");
            },
            context.link);
        ok = session != nullptr;
        ok = ok && CheckChosenFlashType(*session, target, target.flashTypeCode, context.prompt);
        if (ok) {
            result = ProgramChangedSectors(*session, plan, headerBytes, context.progress);
            if (result.outcome == SkipUnchangedResult::Outcome::HeaderChanges) {
                char text[256];
                std::snprintf(text, sizeof text,
                              "--skip-unchanged: the boot header changes (the flash holds another one, from offset "
                              "0x%X); nothing was erased or written: program the image without --skip-unchanged",
                              result.headerOffset);
                context.prompt.ShowMessage(text, MessageIcon::Error);
                ok = false;
            } else if (result.outcome == SkipUnchangedResult::Outcome::Failed) {
                context.prompt.ShowMessage("The flash could not be read, erased or written", MessageIcon::Error);
                ok = false;
            }
        }
        if (ok && plan.readsBack) {
            comparison = ComparePlan(*session, plan, usb, context.progress);
            const bool equal = comparison && comparison->differing == 0;
            context.progress.ReportProgress(comparison ? static_cast<uint32_t>(comparison->compared) : 0,
                                            equal ? "Verify Sucess" : "Verify Fail");
            if (!comparison) context.prompt.ShowMessage("Read flash failed!", MessageIcon::Error);
            ok = equal;
        }
        if (session && !session->Finish() && ok) {
            context.prompt.ShowMessage("The chip did not take the finish command", MessageIcon::Error);
            ok = false;
        }
    }
    context.progress.ReportFinal(kOperationProgram, ok);
    context.window.OnOperationDone(kOperationProgram, page);
    if (result.outcome == SkipUnchangedResult::Outcome::Done)
        std::fprintf(stderr, "skip-unchanged: %u of %u sectors already held the image; %u erased and written\n",
                     result.unchanged, result.sectors, result.erased);
    return ok ? 0 : 1;
}

}  // namespace tavrel::cli
