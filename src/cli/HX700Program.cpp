#include "cli/HX700Program.h"

#include "cli/Command.h"
#include "cli/OperationCommand.h"
#include "cli/PageOptions.h"
#include "operations/HX700FlashDlg.h"
#include "operations/HX700ProgramWorker.h"

namespace tavrel::cli {

int ProgramHX700(const Options& options, OperationContext& context) {
    if (options.Has("hex")) return UsageError(context.command, "KR2H70X: give --bin FILE with --address HEX (no --hex)");
    if (!context.loaded && options.Has("bin") != options.Has("address"))
        return UsageError(context.command, "--address goes with --bin, and --bin needs it");

    HX700FlashDlg& page = context.window.hx700Page;
    if (auto address = options.Value("address")) page.flashAddress.text = NumberFieldText(*address);
    const std::string erase = ApplyEraseOption(options, [&page](int mode) { page.ClickEraseMode(mode); });
    if (!erase.empty()) return UsageError(context.command, erase);
    // Over USB the page offers no block erase; a refused choice is said, not dropped.
    if (options.Has("erase") && !page.eraseBlocks.enabled && options.ValueOr("erase", "") == "blocks")
        return UsageError(context.command, "--erase blocks: the DFU boot ROM has no block erase (all or sectors)");
    ApplyVerifyOption(options, page.verify, [&page] { page.ClickVerify(); });
    if (auto file = options.Value("bin")) page.SetImagePath(DialogPath(*file));

    return RunProgramRequest(context, page.Start(context.window.Snapshot()), &RunHX700Program, kPageHX700);
}

}  // namespace tavrel::cli
