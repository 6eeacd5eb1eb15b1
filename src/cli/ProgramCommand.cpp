// "program": the KR2A600 program page filled from the options as a person fills it, Start
// pressed (so a refused field is the page's own message), the worker run over the real link.
#include "cli/Command.h"
#include "cli/EX500Program.h"
#include "cli/HX700Program.h"
#include "cli/OperationCommand.h"
#include "cli/PageOptions.h"
#include "cli/ProductionLine.h"
#include "model/FamilyProfile.h"
#include "operations/FlashDlg.h"
#include "operations/ProgramWorker.h"

namespace tavrel::cli {
namespace {

// Empty when the page took every option; otherwise what was wrong.
std::string FillPage(const Options& options, bool loaded, FlashDlg& page) {
    if (!loaded && options.Has("bin") && !options.Has("address")) return "--bin needs --address HEX (the flash offset)";
    if (!loaded && options.Has("address") && !options.Has("bin")) return "--address goes with --bin only";
    if (options.Has("hex")) page.ClickHex();
    if (options.Has("bin")) page.ClickBin();
    if (auto address = options.Value("address")) {
        if (!page.binRadio.checked) return "--address goes with a bin image";
        page.flashAddress.text = NumberFieldText(*address);
    }
    const std::string listError = ChooseListOptions(
        options,
        {{"crc", &page.crcMode}, {"qspi-mode", &page.qspiMode}, {"init-mem", &page.initMemMode},
         {"final-mem", &page.finalMemMode}, {"clock-source", &page.clockSource}},
        [&page](ControlState& list, int index) { return page.Select(list, index); });
    if (!listError.empty()) return listError;
    const std::string erase = ApplyEraseOption(options, [&page](int mode) { page.ClickEraseMode(mode); });
    if (!erase.empty()) return erase;
    return ApplyImageOptions(options, page);
}

int ProgramKR2A600(const Options& options, OperationContext& context) {
    FlashDlg& page = context.window.flashPage;
    const std::string error = FillPage(options, context.loaded, page);
    if (!error.empty()) return UsageError(context.command, error);
    return RunProgramRequest(context, page.Start(context.window.Snapshot()), &RunProgram, kPageKR2A600);
}

// Options that only some pages take.
struct PageOption {
    const char* option;
    bool kr2a600, ex500, hx700;
    const char* families;  // for the message
};
constexpr PageOption kPageOptions[] = {
    {"crc", true, true, false, "KR2A600 and the KR2E500 group"},
    {"secure-password", true, true, false, "KR2A600 and the KR2E500 group"},
    {"qspi-mode", true, false, false, "KR2A600"},
    {"init-mem", true, false, false, "KR2A600"},
    {"final-mem", true, false, false, "KR2A600"},
    {"clock-source", true, false, false, "KR2A600"},
    {"boot-uart", false, true, false, "the KR2E500 group"},
    {"uart-location", false, true, false, "the KR2E500 group"},
    {"uart-baud", false, true, false, "the KR2E500 group"},
    {"boot-delay", false, true, false, "the KR2E500 group"},
    {"advanced", false, true, false, "the KR2E500 group"},
    {"no-header-protection", false, true, false, "the KR2E500 group"},
};

// program, and verify: the same page filled from the same options.
int RunProgramCommand(const std::string& command, const Options& options) {
    if (options.Has("hex") && options.Has("bin")) return UsageError(command, "give either --hex FILE or --bin FILE");
    if (!options.Has("settings") && !options.Has("hex") && !options.Has("bin"))
        return UsageError(command, "give either --hex FILE or --bin FILE (or --settings FILE)");

    return RunOperation(command, options, [&](OperationContext& context) {
        context.command = command;
        context.verifyOnly = command == "verify";
        std::string identityError;
        context.identity = OwnIdentity(options, identityError);
        if (!identityError.empty()) return UsageError(command, identityError);
        context.boardData = OwnBoardData(identityError);
        if (!identityError.empty()) return UsageError(command, identityError);
        context.checkIdentityOnly = options.Has("check-identity");
        context.skipUnchanged = options.Has("skip-unchanged");
        if (context.skipUnchanged) {
            // Over UART reading a sector takes as long as writing it: nothing to gain.
            if (context.window.Interface() == InterfaceKind::Uart)
                return UsageError(command, "--skip-unchanged: over UART reading the flash costs as much as writing "
                                           "it; program without --skip-unchanged");
            if (context.identity || !context.boardData.empty() || context.checkIdentityOnly)
                return UsageError(command, "--skip-unchanged does not go with a production line's identities or board data");
        }
        // The page of the family chosen now, by --chip or by the settings file.
        const FamilyProfile* profile = FindFamilyProfile(context.window.family());
        const ProgramPage page = profile ? profile->page : ProgramPage::FlashDlg;
        for (const PageOption& entry : kPageOptions) {
            const bool taken = page == ProgramPage::FlashDlg        ? entry.kr2a600
                               : page == ProgramPage::EX500FlashDlg ? entry.ex500
                                                                    : entry.hx700;
            if (options.Has(entry.option) && !taken)
                return UsageError(command, std::string("--") + entry.option + " goes with " + entry.families + " only");
        }
        // A loaded file has shown the program page already; pressing PROGRAM again would reset it.
        if (context.window.currentOperation() != kOperationProgram || !context.loaded) context.window.PressProgram();
        if (page == ProgramPage::HX700FlashDlg) return ProgramHX700(options, context);
        if (page == ProgramPage::EX500FlashDlg) return ProgramEX500(options, context);
        return ProgramKR2A600(options, context);
    });
}

void DeclareProgramOptions(Options& options) {
    DeclareTargetOptions(options);
    DeclareResetOption(options);
    DeclareSettingsOption(options);
    options.StartGroup("Image");
    options.AddValue("hex", "FILE", "an Intel HEX, ELF or S-record image, told by its content: the boot header is made for it");
    options.AddValue("bin", "FILE", "a raw image, written unchanged at --address");
    options.AddValue("address", "HEX",
                     "with --bin: the flash offset (KR2A600: below 100000; KR2E500, KR2A500, KR2E700: below 80000; "
                     "KR2H70X, KR2E550, KR2G700: within the flash type)");
    options.AddFlag("advanced", "KR2E500, KR2A500, KR2G700, with --bin: an advanced bin, placed by the .cfg map beside it");
    options.AddFlag("no-header-protection", "KR2E500 group, with --bin --address: offsets 0-1F may be written");
    options.AddValue("erase", "all|blocks|sectors", "erase all flash (default), or the blocks or sectors the image covers");
    options.AddFlag("verify", "read the flash back and compare after programming");
    DeclareLogOption(options);
    options.StartGroup("Boot header (KR2A600 and KR2E500 group, with --hex; index or text as listed)");
    options.AddValue("crc", "MODE",
                     "0 CRC-16-CCITT, 1 CRC-16-IBM, 2 CRC-16-T10_DIF, 3 CRC-32-IEEE, 4 No CRC (default)");
    options.AddValue("secure-password", "HEX8", "Secure mode with this password (JTAG is closed afterwards)");
    options.StartGroup("KR2A600 boot header (with --hex; index or text as listed)");
    options.AddValue("qspi-mode", "MODE",
                     "0 Normal read (default), 1 Fast Read, 2 Fast read dual out, 3 Fast read quad out");
    options.AddValue("init-mem", "MODE", "0 Normal (default), 1 Alt cfg 0, 2 Alt cfg 1");
    options.AddValue("final-mem", "MODE", "0 Normal (default), 1 Alt cfg 0, 2 Alt cfg 1");
    options.AddValue("clock-source", "SOURCE",
                     "0 System:200MHz,Reference:XTAL32M, 1 System:200MHz,Reference:RC32M, 2 System:X32M, "
                     "3 System:RC32M (default)");
    options.StartGroup("KR2E500-group boot header (with --hex; index or text as listed)");
    options.AddValue("boot-uart", "PORT", "the boot ROM's UART (KR2E700: 0 UART0 (default), 1 UART1; others: "
                                          "0 UART1, 1 UART2 (default))");
    options.AddValue("uart-location", "PINS", "the pin pair of that UART (default: the first)");
    options.AddValue("uart-baud", "RATE", "9600, 14400, 19200, 38400, 56000, 57600 or 115200 (default)");
    options.AddValue("boot-delay", "DELAY", "0 20ms, 1 40ms, 2 1 Sec (default), 3 2 Sec, 4 3 Sec");
}

CommandRun DefineProgram(Options& options) {
    DeclareProgramOptions(options);
    options.StartGroup("Image");
    options.AddFlag("skip-unchanged",
                    "J-Link and USB: read the sectors the image covers first; erase and write only those that differ "
                    "(refused over UART, and when the boot header changes)");
    DeclareIdentityOptions(options);
    return [&options] { return RunProgramCommand("program", options); };
}

CommandRun DefineVerify(Options& options) {
    DeclareProgramOptions(options);
    options.AddFooter(
        "verify takes the options of program and compares the flash with exactly what program would write\n"
        "there, boot header included, without erasing or writing anything. Exit status 0: the flash holds\n"
        "it; 1: it differs (the count of differing bytes and the first of them are printed) or the run failed.");
    return [&options] { return RunProgramCommand("verify", options); };
}

const RegisterCommand kProgram{{"program", "program an image: KR2A600 and KR2E500 group (HEX with its boot header, or BIN), KR2H70X boot image (BIN)", DefineProgram}};
const RegisterCommand kVerify{{"verify", "compare the flash with what program would write, boot header included, writing nothing", DefineVerify}};

}  // namespace
}  // namespace tavrel::cli
