// "program": the KR2A600 program page filled from the options as a person fills it, Start
// pressed (so a refused field is the page's own message), the worker run over the real link.
#include <filesystem>
#include <system_error>

#include "cli/Command.h"
#include "cli/HX700Program.h"
#include "cli/OperationCommand.h"
#include "model/FamilyProfile.h"
#include "operations/FlashDlg.h"
#include "operations/ProgramWorker.h"

namespace tavrel::cli {
namespace {

// A list option: the entry's index (decimal) or its text as the page shows it.
std::string ChooseListEntry(FlashDlg& page, ControlState& list, const std::string& option, const std::string& value) {
    int index = -1;
    for (size_t i = 0; i < list.items.size(); ++i)
        if (list.items[i] == value) index = static_cast<int>(i);
    if (index < 0) {
        const auto number = ParseNumber(value);
        if (number && value.find_first_not_of("0123456789") == std::string::npos && *number < list.items.size())
            index = static_cast<int>(*number);
    }
    if (index < 0) {
        std::string choices;
        for (size_t i = 0; i < list.items.size(); ++i)
            choices += (i ? ", " : "") + std::to_string(i) + " \"" + list.items[i] + "\"";
        return "--" + option + ": '" + value + "' is not in the list (" + choices + ")";
    }
    if (!page.Select(list, index)) return "--" + option + " goes with --hex only";
    return {};
}

// The page's field as the hex entry field takes the text: a leading "0x" is not typed.
std::string FieldText(const std::string& value) {
    if (value.size() >= 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) return value.substr(2);
    return value;
}

// Empty when the page took every option; otherwise what was wrong.
std::string FillPage(const Options& options, FlashDlg& page) {
    if (options.Has("bin")) {
        page.ClickBin();
        page.flashAddress.text = FieldText(options.ValueOr("address", ""));
    }
    const struct {
        const char* option;
        ControlState* list;
    } lists[] = {{"crc", &page.crcMode},
                 {"qspi-mode", &page.qspiMode},
                 {"init-mem", &page.initMemMode},
                 {"final-mem", &page.finalMemMode},
                 {"clock-source", &page.clockSource}};
    for (const auto& entry : lists) {
        if (auto value = options.Value(entry.option)) {
            const std::string error = ChooseListEntry(page, *entry.list, entry.option, *value);
            if (!error.empty()) return error;
        }
    }
    const std::string erase = options.ValueOr("erase", "all");
    if (erase == "all") page.ClickEraseMode(kEraseAllFlash);
    else if (erase == "blocks") page.ClickEraseMode(kEraseBlocksByFile);
    else if (erase == "sectors") page.ClickEraseMode(kEraseSectorsByFile);
    else return "--erase: '" + erase + "' is none of all, blocks and sectors";
    if (auto password = options.Value("secure-password")) {
        if (!page.secureRadio.enabled) return "--secure-password goes with --hex only";
        page.ClickSecure();
        page.password.text = FieldText(*password);
    }
    if (options.Has("verify")) page.ClickVerify();

    // The file dialog hands over a full path; the worker looks a relative one up beside the program.
    const std::string file = options.ValueOr(options.Has("hex") ? "hex" : "bin", "");
    std::error_code error;
    const auto path = std::filesystem::absolute(file, error);
    page.SetImagePath(error ? file : path.lexically_normal().string());
    return {};
}

int RunProgramCommand(const Options& options) {
    if (options.Has("hex") == options.Has("bin")) return UsageError("program", "give either --hex FILE or --bin FILE");
    if (options.Has("bin") != options.Has("address"))
        return UsageError("program", "--address goes with --bin, and --bin needs it");
    const FamilyProfile* profile = FindFamilyProfile(options.ValueOr("chip", ""));
    if (profile && profile->page == ProgramPage::HX700FlashDlg) return RunHX700ProgramCommand(options);
    // The KR2E500 group's page is not built; it must not be run through the KR2A600 page.
    if (profile && profile->page != ProgramPage::FlashDlg)
        return UsageError("program", options.ValueOr("chip", "") +
                                         ": programming this family is not available yet (only KR2A600 and KR2H70X are)");

    return RunOperation("program", options, [&](OperationContext& context) {
        FlashDlg page(context.prompt);
        const std::string error = FillPage(options, page);
        if (!error.empty()) return UsageError("program", error);
        context.window.currentOperation = kOperationProgram;
        const auto request = page.Start(context.window.Snapshot());
        if (!request) return 1;
        ProgramContext run{context.progress, context.prompt, context.seams.workFolder(), context.seams.loaderFolder(),
                           OpenFlashSessionWith(context.seams, context.progress, context.prompt)};
        const bool result = RunProgram(*request, run);
        page.OnOperationDone();
        return result ? 0 : 1;
    });
}

CommandRun DefineProgram(Options& options) {
    DeclareTargetOptions(options);
    options.StartGroup("Image");
    options.AddValue("hex", "FILE", "an Intel HEX image: the boot header is made for it");
    options.AddValue("bin", "FILE", "a raw image, written unchanged at --address");
    options.AddValue("address", "HEX", "with --bin: the flash offset (KR2A600: below 100000; KR2H70X: within the flash type)");
    options.AddValue("erase", "all|blocks|sectors", "erase all flash (default), or the blocks or sectors the image covers");
    options.AddFlag("verify", "read the flash back and compare after programming");
    options.StartGroup("Boot header (with --hex; index or text as listed)");
    options.AddValue("crc", "MODE",
                     "0 CRC-16-CCITT, 1 CRC-16-IBM, 2 CRC-16-T10_DIF, 3 CRC-32-IEEE, 4 No CRC (default)");
    options.AddValue("qspi-mode", "MODE",
                     "0 Normal read (default), 1 Fast Read, 2 Fast read dual out, 3 Fast read quad out");
    options.AddValue("init-mem", "MODE", "0 Normal (default), 1 Alt cfg 0, 2 Alt cfg 1");
    options.AddValue("final-mem", "MODE", "0 Normal (default), 1 Alt cfg 0, 2 Alt cfg 1");
    options.AddValue("clock-source", "SOURCE",
                     "0 System:200MHz,Reference:XTAL32M, 1 System:200MHz,Reference:RC32M, 2 System:X32M, "
                     "3 System:RC32M (default)");
    options.AddValue("secure-password", "HEX8", "Secure mode with this password (JTAG is closed afterwards)");
    return [&options] { return RunProgramCommand(options); };
}

const RegisterCommand kProgram{{"program", "program a KR2A600 image (HEX with its boot header, or BIN) or a KR2H70X boot image (BIN)", DefineProgram}};

}  // namespace
}  // namespace tavrel::cli
