#include "cli/EX500Program.h"

#include "cli/Command.h"
#include "cli/OperationCommand.h"
#include "cli/PageOptions.h"
#include "operations/EX500FlashDlg.h"
#include "operations/EX500ProgramWorker.h"
#include "operations/PageControls.h"

namespace tavrel::cli {

namespace {

// Empty when the page took every option; otherwise what was wrong.
std::string FillPage(const Options& options, EX500FlashDlg& page) {
    if (options.Has("bin")) {
        page.ClickBin();
        if (options.Has("advanced")) {
            page.ClickAdvancedBin();
            if (!page.advancedBin.checked) return "--advanced: " + page.family() + " has no advanced bin";
        }
        if (options.Has("no-header-protection")) page.ClickHeaderProtection();
        page.flashAddress.text = FieldText(options.ValueOr("address", ""));
    }
    const auto select = [&page](ControlState& list, int index) { return page.Select(list, index); };
    // The port first: choosing it refills the locations.
    const struct {
        const char* option;
        ControlState* list;
    } lists[] = {{"boot-uart", &page.uartPort},
                 {"uart-location", &page.uartLocation},
                 {"uart-baud", &page.uartBaudRate},
                 {"boot-delay", &page.bootDelay},
                 {"crc", &page.crc}};
    for (const auto& entry : lists) {
        if (auto value = options.Value(entry.option)) {
            const std::string error = ChooseListEntry(*entry.list, entry.option, *value, select,
                                                      std::string("--") + entry.option + " goes with --hex only");
            if (!error.empty()) return error;
        }
    }
    const std::string erase = options.ValueOr("erase", "all");
    const auto mode = EraseModeOption(erase);
    if (!mode) return "--erase: '" + erase + "' is " + kEraseModeChoices;
    page.ClickEraseMode(*mode);
    if (EraseModeOf(page.eraseBlocks, page.eraseSectors) != *mode)
        return "--erase " + erase + " does not go with --advanced (only all or blocks)";
    if (auto password = options.Value("secure-password")) {
        if (!page.secureRadio.enabled) return "--secure-password goes with --hex only";
        page.ClickSecure();
        page.password.text = FieldText(*password);
    }
    if (options.Has("verify")) page.ClickVerify();
    page.SetImagePath(DialogPath(options.ValueOr(options.Has("hex") ? "hex" : "bin", "")));
    return {};
}

}  // namespace

int RunEX500ProgramCommand(const Options& options) {
    if (options.Has("bin") && options.Has("advanced") == options.Has("address"))
        return UsageError("program", "--bin needs either --address HEX or --advanced");
    if (options.Has("hex") && (options.Has("address") || options.Has("advanced") || options.Has("no-header-protection")))
        return UsageError("program", "--address, --advanced and --no-header-protection go with --bin only");
    if (options.Has("advanced") && options.Has("no-header-protection"))
        return UsageError("program", "--no-header-protection goes with --bin --address only");

    return RunOperation("program", options, [&](OperationContext& context) {
        context.window.PressProgram();
        EX500FlashDlg& page = context.window.ex500Page;
        const std::string error = FillPage(options, page);
        if (!error.empty()) return UsageError("program", error);
        const auto request = page.Start(context.window.Snapshot());
        if (!request) return 1;
        context.window.LockForRun();
        ProgramContext run{context.progress, context.prompt, context.seams.workFolder(), context.seams.loaderFolder(),
                           OpenFlashSessionWith(context.seams, context.progress, context.prompt)};
        const bool result = RunEX500Program(*request, run);
        context.window.OnOperationDone(kOperationProgram, kPageEX500);
        return result ? 0 : 1;
    });
}

}  // namespace tavrel::cli
