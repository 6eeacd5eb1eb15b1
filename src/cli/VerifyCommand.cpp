// "verify": the program page's flow run once against a recorder (what program would erase and
// write, boot header included), then the flash read over the real link and compared with it.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "cli/OperationCommand.h"
#include "model/FamilyProfile.h"
#include "operations/ProgramPlan.h"

namespace tavrel::cli {

int VerifyProgramPlan(OperationContext& context, const std::function<RunResult(RunContext& run)>& flow,
                      ProgramPageKind page) {
    ProgramPlan plan;
    SilentHost silent;
    RunContext recording{silent, context.prompt, context.seams.workFolder(), context.seams.loaderFolder(),
                         RecordPlanWith(plan), context.link};
    // A flow that fails here has said why (a missing image, a field out of range).
    if (!Succeeded(flow(recording))) return 1;
    if (plan.writes.empty()) {
        std::fprintf(stderr, "tavrel-cli verify: the image writes nothing to compare\n");
        return 1;
    }

    const TargetSelection target = context.window.Snapshot();
    const bool usb = target.Interface() == InterfaceKind::Usb;
    context.window.LockForRun();
    bool ok = false;
    std::optional<PlanComparison> comparison;
    {
        auto session = OpenFlashSession(
            target, context.seams, context.progress, context.prompt,
            [&](BringUpStep step, uint32_t) {
                if (step == BringUpStep::Connecting) context.progress.ReportProgress(0, "Connect...");
            },
            context.link);
        ok = session != nullptr;
        // The same flash-type check the program page makes before it writes.
        ok = ok && CheckChosenFlashType(*session, target, target.flashTypeCode, context.prompt);
        if (ok) {
            comparison = ComparePlan(*session, plan, usb, context.progress);
            if (!comparison) {
                context.prompt.ShowMessage("Read flash failed!", MessageIcon::Error);
                ok = false;
            }
        }
        if (session && !session->Finish() && ok) {
            context.prompt.ShowMessage("The chip did not take the finish command", MessageIcon::Error);
            ok = false;
        }
    }
    const uint32_t position = comparison ? static_cast<uint32_t>(std::min<uint64_t>(comparison->compared, UINT32_MAX)) : 0;
    context.progress.ReportProgress(position, ok && comparison->differing == 0 ? "Verify Sucess" : "Verify Fail");
    context.window.OnOperationDone(kOperationProgram, page);
    if (!ok) return 1;
    if (comparison->differing == 0) {
        std::printf("verify: the flash holds the image (%llu bytes compared)\n",
                    static_cast<unsigned long long>(comparison->compared));
        std::fflush(stdout);
        return 0;
    }
    // The pages' flash addresses are offsets into the flash, so the two are one number.
    std::printf("verify: %llu of %llu bytes differ; the first at address 0x%08X (flash offset 0x%X): "
                "the image has 0x%02X, the flash 0x%02X\n",
                static_cast<unsigned long long>(comparison->differing),
                static_cast<unsigned long long>(comparison->compared), comparison->firstOffset,
                comparison->firstOffset, comparison->expected, comparison->actual);
    std::fflush(stdout);
    return 1;
}

}  // namespace tavrel::cli
