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
    if (options.Has("hex")) page.ClickHex();
    if (options.Has("bin")) page.ClickBin();
    if (options.Has("advanced")) {
        if (!page.binRadio.checked) return "--advanced goes with a bin image";
        if (!page.advancedBin.checked) page.ClickAdvancedBin();
        if (!page.advancedBin.checked) return "--advanced: " + page.family() + " has no advanced bin";
    }
    if (options.Has("no-header-protection")) {
        if (!page.headerProtection.enabled) return "--no-header-protection goes with --bin --address only";
        if (page.headerProtection.checked) page.ClickHeaderProtection();
    }
    if (auto address = options.Value("address")) {
        if (!page.flashAddress.enabled) return "--address goes with a plain bin image (not --hex or --advanced)";
        page.flashAddress.text = NumberFieldText(*address);
    }
    // The port first: choosing it refills the locations.
    const std::string listError = ChooseListOptions(
        options,
        {{"boot-uart", &page.uartPort}, {"uart-location", &page.uartLocation}, {"uart-baud", &page.uartBaudRate},
         {"boot-delay", &page.bootDelay}, {"crc", &page.crc}},
        [&page](ControlState& list, int index) { return page.Select(list, index); });
    if (!listError.empty()) return listError;
    if (auto erase = options.Value("erase")) {
        const std::string error = ApplyEraseOption(options, [&page](int mode) { page.ClickEraseMode(mode); });
        if (!error.empty()) return error;
        if (page.EraseMode() != EraseModeOption(*erase))
            return "--erase " + *erase + " does not go with --advanced (only all or blocks)";
    }
    return ApplyImageOptions(options, page);
}

}  // namespace

int ProgramEX500(const Options& options, OperationContext& context) {
    if (options.Has("bin") && options.Has("advanced") && options.Has("address"))
        return UsageError(context.command,
                          "--bin takes either --address (a plain bin) or --advanced (placed by its .cfg map), not both");
    if (!context.loaded && options.Has("bin") && !options.Has("advanced") && !options.Has("address"))
        return UsageError(context.command, "--bin needs either --address HEX or --advanced");
    if (options.Has("hex") && (options.Has("address") || options.Has("advanced") || options.Has("no-header-protection")))
        return UsageError(context.command, "--address, --advanced and --no-header-protection go with --bin only");
    if (options.Has("advanced") && (options.Has("no-header-protection") || options.Has("address")))
        return UsageError(context.command, "--address and --no-header-protection go with --bin --address only");

    EX500FlashDlg& page = context.window.ex500Page;
    const std::string error = FillPage(options, page);
    if (!error.empty()) return UsageError(context.command, error);
    return RunProgramRequest(context, page.Start(context.window.Snapshot()), &RunEX500Program, kPageEX500);
}

}  // namespace tavrel::cli
