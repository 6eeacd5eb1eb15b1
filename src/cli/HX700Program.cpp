#include "cli/HX700Program.h"

#include <filesystem>
#include <system_error>

#include "cli/Command.h"
#include "cli/OperationCommand.h"
#include "operations/HX700FlashDlg.h"
#include "operations/HX700ProgramWorker.h"

namespace tavrel::cli {

int RunHX700ProgramCommand(const Options& options) {
    if (options.Has("hex")) return UsageError("program", "KR2H70X: give --bin FILE with --address HEX (no --hex)");
    for (const char* option : {"crc", "qspi-mode", "init-mem", "final-mem", "clock-source", "secure-password"})
        if (options.Has(option)) return UsageError("program", std::string("--") + option + " goes with KR2A600 only");

    return RunOperation("program", options, [&](OperationContext& context) {
        HX700FlashDlg page(context.prompt);
        // The field takes the digits as typed; a leading "0x" is not typed.
        const auto digits = HexDigits(options.ValueOr("address", ""));
        page.flashAddress.text = digits.value_or(options.ValueOr("address", ""));
        const std::string erase = options.ValueOr("erase", "all");
        if (erase == "all") page.ClickEraseMode(kEraseAllFlash);
        else if (erase == "blocks") page.ClickEraseMode(kEraseBlocksByFile);
        else if (erase == "sectors") page.ClickEraseMode(kEraseSectorsByFile);
        else return UsageError("program", "--erase: '" + erase + "' is none of all, blocks and sectors");
        if (options.Has("verify")) page.ClickVerify();
        // The file dialog hands over a full path; the worker looks a relative one up beside the program.
        const std::string file = options.ValueOr("bin", "");
        std::error_code error;
        const auto path = std::filesystem::absolute(file, error);
        page.SetImagePath(error ? file : path.lexically_normal().string());

        context.window.currentOperation = kOperationProgram;
        const auto request = page.Start(context.window.Snapshot());
        if (!request) return 1;
        ProgramContext run{context.progress, context.prompt, context.seams.workFolder(), context.seams.loaderFolder(),
                           OpenFlashSessionWith(context.seams, context.progress, context.prompt)};
        const bool result = RunHX700Program(*request, run);
        page.OnOperationDone(request->interfaceName);
        return result ? 0 : 1;
    });
}

}  // namespace tavrel::cli
