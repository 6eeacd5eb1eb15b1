#include "cli/HX700Program.h"

#include "cli/Command.h"
#include "cli/OperationCommand.h"
#include "cli/PageOptions.h"
#include "operations/HX700FlashDlg.h"
#include "operations/HX700ProgramWorker.h"

namespace tavrel::cli {

int RunHX700ProgramCommand(const Options& options) {
    if (options.Has("hex")) return UsageError("program", "KR2H70X: give --bin FILE with --address HEX (no --hex)");
    if (options.Has("bin") != options.Has("address"))
        return UsageError("program", "--address goes with --bin, and --bin needs it");

    return RunOperation("program", options, [&](OperationContext& context) {
        context.window.PressProgram();
        HX700FlashDlg& page = context.window.hx700Page;
        page.flashAddress.text = FieldText(options.ValueOr("address", ""));
        const std::string erase = options.ValueOr("erase", "all");
        const auto mode = EraseModeOption(erase);
        if (!mode) return UsageError("program", "--erase: '" + erase + "' is " + kEraseModeChoices);
        page.ClickEraseMode(*mode);
        if (options.Has("verify")) page.ClickVerify();
        page.SetImagePath(DialogPath(options.ValueOr("bin", "")));

        const auto request = page.Start(context.window.Snapshot());
        if (!request) return 1;
        context.window.LockForRun();
        ProgramContext run{context.progress, context.prompt, context.seams.workFolder(), context.seams.loaderFolder(),
                           OpenFlashSessionWith(context.seams, context.progress, context.prompt)};
        const bool result = RunHX700Program(*request, run);
        context.window.OnOperationDone(kOperationProgram, kPageHX700);
        return result ? 0 : 1;
    });
}

}  // namespace tavrel::cli
