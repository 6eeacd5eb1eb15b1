// "read": the read page filled from the options, Read pressed, the worker run; the dump lines
// go to stdout (and to a text file, as "Save " writes it).
#include <cstdio>

#include "cli/Command.h"
#include "cli/OperationCommand.h"
#include "cli/ProductionLine.h"
#include "operations/ReadDlg.h"
#include "operations/ReadWorker.h"

namespace tavrel::cli {
namespace {

// Answers the page's chooser with the path the options name.
class OptionChooser final : public FileChooser {
public:
    explicit OptionChooser(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> ChooseFile(const FileDialogRequest&) override { return path_; }

private:
    std::string path_;
};

int RunRead(const Options& options) {
    if (options.Has("output") && options.Has("dump")) return UsageError("read", "give either --output FILE or --dump");
    if (!options.Has("settings")) {
        if (!options.Has("output") && !options.Has("dump")) return UsageError("read", "give either --output FILE or --dump");
        for (const char* required : {"address", "length"})
            if (!options.Has(required)) return UsageError("read", std::string("--") + required + " is required");
    }
    if (options.Has("dump-file") && options.Has("output")) return UsageError("read", "--dump-file goes with --dump");
    std::optional<std::string> address, length;
    if (auto given = options.Value("address")) {
        address = HexDigits(*given);
        if (!address) return UsageError("read", "--address: '" + *given + "' is not hexadecimal");
    }
    if (auto given = options.Value("length")) {
        length = HexDigits(*given);
        if (!length) return UsageError("read", "--length: '" + *given + "' is not hexadecimal");
    }
    return RunOperation("read", options, [&](OperationContext& context) {
        if (!context.loaded) context.window.PressRead();
        ReadDlg& page = context.window.readPage;
        if (auto output = options.Value("output")) {
            page.ClickSaveToFile();
            OptionChooser chooser(*output);
            page.PressBrowse(chooser);
        } else if (options.Has("dump")) {
            page.ClickDisplay();
        }
        if (options.Has("dump-file") && page.mode() != ReadMode::Display)
            return UsageError("read", "--dump-file goes with --dump");
        if (address) page.addressField.text = *address;
        if (length) page.lengthField.text = *length;
        const auto settings = page.PressRead(context.window.Snapshot(), context.prompt);
        if (!settings) return 1;
        context.window.LockForRun();
        RunContext run = MakeRunContext(context.seams, context.progress, context.prompt, context.link);
        const RunResult result =
            RunReadWorker(*settings, run, [&](const ReadDisplayBlock& block) { page.ReceiveDisplayBlock(block); });
        context.window.OnOperationDone(kOperationRead, std::nullopt);
        if (!Succeeded(result)) return 1;
        if (page.mode() == ReadMode::Display) {
            for (const auto& line : page.dumpList.items) std::printf("%s\n", line.c_str());
            std::fflush(stdout);
            if (auto file = options.Value("dump-file")) {
                OptionChooser chooser(*file);
                if (!page.PressSave(chooser, context.prompt)) return 1;
            }
        }
        return 0;
    });
}

CommandRun DefineRead(Options& options) {
    DeclareTargetOptions(options);
    DeclareSettingsOption(options);
    options.StartGroup("What to read");
    options.AddValue("address", "HEX", "the flash address (required unless --settings gives it)");
    options.AddValue("length", "HEX", "the number of bytes (required unless --settings gives it)");
    options.AddValue("output", "FILE", "save the bytes to this file (written whole or not at all)");
    options.AddFlag("dump", "show the bytes as dump lines on stdout (at most 0xC80 bytes)");
    options.AddValue("dump-file", "FILE", "with --dump: also save the lines as a text file");
    DeclareLogOption(options);
    return [&options] { return RunRead(options); };
}

const RegisterCommand kRead{{"read", "read a flash range into a file or as dump lines", DefineRead}};

}  // namespace
}  // namespace tavrel::cli
