// "erase": the erase page filled from the options, Erase pressed, the worker run.
#include <sstream>

#include "cli/Command.h"
#include "cli/OperationCommand.h"
#include "cli/ProductionLine.h"
#include "operations/EraseDlg.h"
#include "operations/EraseWorker.h"

namespace tavrel::cli {
namespace {

int RunErase(const Options& options) {
    const int modes = options.Has("all") + options.Has("blocks") + options.Has("sectors");
    if (modes > 1) return UsageError("erase", "give one of --all, --blocks and --sectors");
    return RunOperation("erase", options, [&](OperationContext& context) {
        if (!context.loaded) context.window.PressErase();
        EraseDlg& page = context.window.erasePage;
        const TargetSelection target = context.window.Snapshot();
        if (auto blocks = options.Value("blocks")) {
            if (!page.eraseBlockRadio.enabled) return UsageError("erase", "--blocks: USB has no block erase");
            page.ClickEraseBlock();
            std::vector<int> items;
            std::stringstream list(*blocks);
            for (std::string item; std::getline(list, item, ',');) {
                const auto number = ParseNumber(item);
                if (!number || *number >= page.blockList.items.size())
                    return UsageError("erase", "--blocks: '" + item + "' is not a block of the list (0 to " +
                                                   std::to_string(page.blockList.items.size() - 1) + ")");
                items.push_back(static_cast<int>(*number));
            }
            page.SelectBlocks(items);
        } else if (auto sectors = options.Value("sectors")) {
            page.ClickEraseSector();
            const auto dash = sectors->find('-');
            page.startField.text = sectors->substr(0, dash);
            page.endField.text = dash == std::string::npos ? sectors->substr(0, dash) : sectors->substr(dash + 1);
        } else if (options.Has("all") || !context.loaded) {
            page.ClickEraseAll();
        }
        const auto settings = page.PressErase(target, context.prompt);
        if (!settings) return 1;
        context.window.LockForRun();
        RunContext run = MakeRunContext(context.seams, context.progress, context.prompt, context.link);
        const RunResult result = RunEraseWorker(*settings, run);
        context.window.OnOperationDone(kOperationErase, std::nullopt);
        return Succeeded(result) ? 0 : 1;
    });
}

CommandRun DefineErase(Options& options) {
    DeclareTargetOptions(options);
    DeclareResetOption(options);
    DeclareSettingsOption(options);
    options.StartGroup("What to erase");
    options.AddFlag("all", "the whole flash (the default)");
    options.AddValue("blocks", "N,N,...", "these 64 KiB blocks (numbers from 0)");
    options.AddValue("sectors", "FIRST-LAST", "the 4 KiB sectors FIRST to LAST");
    DeclareLogOption(options);
    return [&options] { return RunErase(options); };
}

const RegisterCommand kErase{{"erase", "erase the flash: all of it, some blocks or a range of sectors", DefineErase}};

}  // namespace
}  // namespace tavrel::cli
