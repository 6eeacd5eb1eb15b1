#include "cli/OperationCommand.h"

#include <algorithm>
#include <cctype>
#include <sys/stat.h>

#include <cstdio>
#include <initializer_list>

#include "cli/Command.h"
#include "app/SettingsFile.h"
#include "cli/CommandSeams.h"
#include "cli/MultiBoard.h"
#include "cli/PageOptions.h"
#include "cli/ProductionLine.h"
#include "links/DfuLink.h"
#include "model/HexText.h"
#include "model/ImageFiles.h"
#include "model/TextList.h"
#include "model/WorkFiles.h"
#include "platform/Folders.h"
#include "platform/Interruption.h"

namespace tavrel::cli {
namespace {

constexpr const char* kChipHelp = "the chip family: KR2A600, KR2E500, KR2A500, KR2E550, KR2G700, KR2E700 or KR2H70X";

// Hexadecimal text as the fields take it: a leading "0x" is dropped.
std::string WithoutHexPrefix(const std::string& text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return text.substr(2);
    return text;
}

int IndexOf(const std::vector<std::string>& items, const std::string& text) {
    const auto found = std::find(items.begin(), items.end(), text);
    return found == items.end() ? -1 : static_cast<int>(found - items.begin());
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

// Empty when the window took every option; otherwise what was wrong.
// loaded: a settings file has set the window up; only the options given change it.
std::string FillWindow(const Options& options, CCorvaneDlg& window, bool loaded) {
    if (auto given = options.Value("chip")) {
        if (!window.ChooseFamily(*given))
            return "--chip: unknown chip family '" + *given + "' (" +
                   Joined(std::vector<std::string>(kFamilies.begin(), kFamilies.end())) + ")";
    } else if (!loaded) {
        return "--chip is required (or --settings FILE)";
    }
    const std::string chip = window.family();
    if (options.Has("interface") || options.Has("chip") || !loaded) {
        const std::string wanted = options.ValueOr("interface", "JLINK");
        const int interfaceIndex = IndexOf(window.interfaceList.items, wanted);
        if (interfaceIndex < 0)
            return "--interface: '" + wanted + "' is not offered for " + chip + " (" +
                   Joined(window.interfaceList.items) + ")";
        window.ChooseInterface(interfaceIndex);
    }
    const std::string interfaceName = window.interfaceName();
    const std::optional<InterfaceKind> interface = window.Interface();
    // Each link's own options, refused with another link rather than quietly ignored.
    struct OwnOption {
        const char* name;
        std::vector<InterfaceKind> interfaces;
    };
    using enum InterfaceKind;
    for (const OwnOption& own : {OwnOption{"speed", {Jlink}}, OwnOption{"probe", {Jlink}}, OwnOption{"port", {Uart}},
                                 OwnOption{"baud", {Uart}}, OwnOption{"unlock-erase", {Uart}},
                                 OwnOption{"unlock-password", {Uart, Usb}}, OwnOption{"usb-id", {Usb}},
                                 OwnOption{"usb-sim", {Usb}}, OwnOption{"usb-path", {Usb}}}) {
        if (options.Has(own.name) &&
            (!interface || std::find(own.interfaces.begin(), own.interfaces.end(), *interface) == own.interfaces.end()))
            return "--" + std::string(own.name) + " does not go with --interface " + interfaceName;
    }
    // The serial boot ROM has no command that leaves it: a reset there is the user's hand.
    if (options.Has("reset") && interface == Uart)
        return "--reset: over UART the boot ROM cannot be left by the host; reset the board by hand after the run";
    if (auto location = options.Value("flash-location")) {
        if (!window.internalRadio.enabled) return "--flash-location: " + chip + " has no flash location to choose";
        if (*location == "internal") window.ClickInternalFlash();
        else if (*location == "external") window.ClickExternalFlash();
        else return "--flash-location: '" + *location + "' is neither internal nor external";
    }
    if (options.Has("flash-type") && !UsesFlashType(chip)) return "--flash-type: " + chip + " has no flash type to choose";
    if (auto type = options.Value("flash-type")) {
        const int index = IndexOf(window.flashTypeList.items, *type);
        if (!window.flashTypeList.enabled || index < 0)
            return "--flash-type: '" + *type + "' is not offered for " + chip +
                   (window.flashTypeList.enabled ? " (" + Joined(window.flashTypeList.items) + ")" : "");
        window.ChooseFlashType(index);
    }
    if (auto probe = options.Value("probe"); probe && (!ParseNumber(*probe) || *ParseNumber(*probe) == 0))
        return "--probe: '" + *probe + "' is not a J-Link serial number (see tavrel-cli list)";
    if (auto path = options.Value("usb-path"); path && !IsUsbPath(*path))
        return "--usb-path: '" + *path + "' is not a USB path BUS-PORT[.PORT...] such as 1-2.3 (see tavrel-cli list)";
    if (auto speed = options.Value("speed")) {
        const auto value = ParseNumber(*speed);
        const auto& choices = JlinkConfigDlg::kSpeedChoicesKhz;
        const auto found = value ? std::find(choices.begin(), choices.end(), *value) : choices.end();
        if (interface != Jlink || found == choices.end())
            return "--speed: '" + *speed + "' is not a J-Link speed of the list (8000, 4000, 2000, 1000, 500, 100)";
        window.jlinkPanel.ChooseSpeed(static_cast<int>(found - choices.begin()));
    }
    if (auto baud = options.Value("baud")) {
        const auto value = ParseNumber(*baud);
        const std::vector<uint32_t> rates = BaudChoices(chip);
        const auto found = value ? std::find(rates.begin(), rates.end(), *value) : rates.end();
        if (interface != Uart || found == rates.end()) {
            std::string offered;
            for (uint32_t rate : rates) offered += (offered.empty() ? "" : ", ") + std::to_string(rate);
            return "--baud: '" + *baud + "' is not offered for " + chip + " (" + offered + ")";
        }
        window.uartPanel.ChooseBaud(static_cast<int>(found - rates.begin()));
    }
    if (options.Has("unlock-password") && options.Has("unlock-erase"))
        return "give either --unlock-password or --unlock-erase, not both";
    if (options.Has("unlock-erase") && IsEX500Group(chip))
        return "--unlock-erase: the boot ROM of " + chip + " cannot be unlocked by erasing; give --unlock-password HEX";
    if (auto password = options.Value("unlock-password"); password && interface == Usb) {
        uint8_t bytes[kDfuPasswordBytes];
        if (HexTextToBytes(WithoutHexPrefix(*password), bytes, sizeof bytes) != 0)
            return "--unlock-password takes 64 hexadecimal digits (32 bytes) for USB";
    }
    return {};
}

}  // namespace

void DeclareSettingsOption(Options& options) {
    // Only the commands that take a settings file say it can name the chip.
    options.SetHelp("chip", std::string(kChipHelp) + " (required unless --settings gives it)");
    options.StartGroup("Settings file");
    options.AddValue("settings", "FILE",
                     "a job saved with File > Save in Tavrel: the window and the page as saved, then the "
                     "options given here on top (the COM port and passwords are not in the file)");
}

std::optional<std::string> HexDigits(const std::string& text) {
    const std::string digits = NumberFieldText(text);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    for (char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    return digits;
}

void DeclareResetOption(Options& options) {
    options.StartGroup("After the run");
    options.AddFlag("reset", "start what the flash holds: J-Link resets the core and lets it run, USB detaches the "
                             "DFU device and resets it on the bus (not over UART: the boot ROM cannot be left there)");
}

void DeclareTargetOptions(Options& options) {
    options.AddValue("chip", "FAMILY", std::string(kChipHelp) + " (required)");
    options.AddValue("interface", "JLINK|UART|USB", "how the board is reached (default JLINK; USB: KR2H70X only)");
    options.AddValue("flash-location", "internal|external", "KR2H70X: the internal or the external flash");
    options.AddValue("flash-type", "NAME", "the external flash part, for the families that have one");
    options.AddValue("loader-dir", "DIR", "the folder of the flash loaders (default: config beside the program)");
    options.StartGroup("J-Link");
    options.AddValue("speed", "KHZ", "the probe's speed: 8000 (default), 4000, 2000, 1000, 500 or 100");
    options.AddValues("probe", "SERIAL",
                      "the J-Link of this serial number, when several are connected (tavrel-cli list); program, "
                      "erase and read take it several times to run the same job on several boards at once, one "
                      "probe each");
    options.StartGroup("UART");
    options.AddValues("port", "DEVICE",
                      "the serial port (default: the first one of 'tavrel-cli ports'); program, erase and read "
                      "take it several times to run the same job on several boards at once");
    options.AddValue("baud", "N", "the line speed, one the family offers");
    options.AddValue("board-time-limit", "SECONDS",
                     "several boards at once: how long each board may take before it is stopped (default: "
                     "from the job, 600 s and the job's bytes four times at the line's rate)");
    options.AddFlag("unlock-erase", "answer a locked boot ROM by erasing all flash (KR2A600, KR2H70X)");
    options.StartGroup("UART and USB");
    options.AddValue("unlock-password", "HEX", "the password of a locked boot ROM or a protected DFU device");
    options.StartGroup("USB (KR2H70X)");
    options.AddValue("usb-id", "VID:PID", "the boot ROM's USB ids in hexadecimal (default 1209:0001)");
    options.AddValues("usb-path", "BUS-PORT[.PORT...]",
                      "the DFU device at this place on the bus, when several are connected (tavrel-cli list); "
                      "program, erase and read take it several times to run the same job on several boards at "
                      "once, one device each");
    options.AddFlag("usb-sim", "a simulated board in this process instead of USB");
}

namespace {

bool Shown(const TerminalPrompt& prompt, std::initializer_list<const char*> any) {
    for (const std::string& text : prompt.texts)
        for (const char* wanted : any)
            if (text == wanted) return true;
    return false;
}

// What a failed run's own messages cannot say: the port, the folder, the likely cause.
void PrintFailureContext(const std::string& commandName, const CCorvaneDlg& window, const Seams& seams,
                         const TerminalPrompt& prompt) {
    const TargetSelection target = window.Snapshot();
    const std::string tag = "tavrel-cli " + commandName + ": ";
    if (Shown(prompt, {"Open ComPort Failed"}))
        std::fprintf(stderr, "%sthe serial port %s cannot be opened ('tavrel-cli ports' lists the ports there are)\n",
                     tag.c_str(), target.comPort.c_str());
    if (Shown(prompt, {kLoadFileLost, "MCU Jlink Load file lost", "MCU Uart Load file lost", "MCU Uart Loader file lost"})) {
        const std::string folder =
            seams.loaderFolder().empty() ? (platform::ProgramFolder() / "config").string() : seams.loaderFolder();
        std::fprintf(stderr, "%sno loader file %s in %s (give the folder of the loader files with --loader-dir DIR)\n",
                     tag.c_str(), LoaderFileName(target.family, target.Interface().value_or(InterfaceKind::Uart)).c_str(), folder.c_str());
    }
    if (Shown(prompt, {"Uart hand shake failed!\n Please reset and try again!", "Uart hand shake failed!"}))
        std::fprintf(stderr,
                     "%sno %s boot ROM answered on %s at %u baud: is the chip a %s (--chip), in its boot mode and "
                     "just reset?\n",
                     tag.c_str(), target.family.c_str(), target.comPort.c_str(), target.baudRate, target.family.c_str());
}

// A TAVREL_SIM_SOCKET that names no socket would fail later as a missing probe or device. It may
// list several boards' sockets, separated by ":".
std::string SimSocketProblem(const Seams& seams) {
    const std::string& paths = seams.settings().simSocket;
    for (const std::string& path : SplitTextList(paths, ':')) {
        // Of several, the one at fault.
        const std::string named = std::string(kSimSocketVariable) + "=" + (path == paths ? path : paths + ": " + path);
        struct stat status{};
        if (::stat(path.c_str(), &status) != 0)
            return named + " names nothing there: start a board "
                   "with 'tavrel-cli sim' and give the socket it prints, or unset " + kSimSocketVariable;
        if (!S_ISSOCK(status.st_mode))
            return named + " is not a socket: give the socket 'tavrel-cli sim' prints";
    }
    return {};
}

int RunOnOneBoard(const std::string& commandName, const Options& options,
                  const std::function<int(OperationContext& context)>& operation) {
    std::optional<std::vector<std::string>> ports;
    if (auto port = options.Value("port")) ports = std::vector<std::string>{*port};
    TerminalPrompt prompt;
    CCorvaneDlg window(prompt, nullptr, ports ? UartConfigDlg(ports) : UartConfigDlg());
    bool loaded = false;
    if (auto settings = options.Value("settings")) {
        // As File > Load: the file's message, or the failure's.
        SettingsLoadStop stop;
        const int result = LoadSettings(window, *settings, prompt, &stop);
        if (result == -2) {
            prompt.ShowMessage(kSettingsLoadFailed, MessageIcon::Error);
            std::fprintf(stderr, "tavrel-cli %s: %s: line %d, \"%s:%s\": the window has no such choice for %s\n",
                         commandName.c_str(), settings->c_str(), stop.line, stop.key.c_str(), stop.value.c_str(),
                         window.family().c_str());
        }
        if (result != 0) return 1;
        const OperationKind saved = window.currentOperation();
        const char* savedName = saved == kOperationErase ? "erase" : saved == kOperationRead ? "read" : "program";
        // verify takes the options of program, and so its saved jobs.
        const std::string takes = commandName == "verify" ? "program" : commandName;
        if (savedName != takes)
            return UsageError(commandName, "--settings: " + *settings + " holds " +
                                               (saved == kOperationErase ? "an " : "a ") + savedName +
                                               " job; run it with tavrel-cli " + savedName);
        loaded = true;
    }
    const std::string error = FillWindow(options, window, loaded);
    if (!error.empty()) return UsageError(commandName, error);

    SessionOptions link;
    if (auto given = options.Value("unlock-password")) {
        const std::string password = WithoutHexPrefix(*given);
        prompt.preset = SecurityAnswer{true, 1, password};
        if (IsEX500Group(window.family()) && window.Interface() == InterfaceKind::Uart) link.framedPassword = password;
    }
    if (options.Has("unlock-erase")) prompt.preset = SecurityAnswer{true, 0, {}};
    prompt.offerErase = window.Interface() == InterfaceKind::Uart && !IsEX500Group(window.family());

    Seams seams = CommandSeams(CommandSettings(options));
    if (const std::string problem = SimSocketProblem(seams); !problem.empty()) {
        std::fprintf(stderr, "tavrel-cli %s: %s\n", commandName.c_str(), problem.c_str());
        return 1;
    }
    const std::string interfaceName = window.interfaceName();
    if (window.Interface() == InterfaceKind::Usb) {
        std::string idError;
        if (!seams.DfuDevice(window.family(), idError)) return UsageError(commandName, idError);
    }
    // Ctrl-C or SIGTERM from here on fails the link's next wait: the run ends through its own
    // failure path (temporary files removed) and the link is closed below.
    InstallInterruptionHandlers();
    int status = 1;
    {
        ProgressBar progress;
        OperationContext context{window, seams, progress, prompt, link, loaded};
        status = operation(context);
    }
    // --reset: what the flash holds is started before the link is closed.
    if (status == 0 && options.Has("reset") && !InterruptionRequested()) {
        if (StartTargetProgram(window.Snapshot(), seams, prompt)) {
            std::fprintf(stderr, "Reset: the board runs the program in its flash\n");
        } else {
            std::fprintf(stderr, "tavrel-cli %s: the board could not be started\n", commandName.c_str());
            status = 1;
        }
    }
    // What the main window does on the operation's end: the link the interface left open is closed.
    CloseFlashLink(interfaceName, seams, prompt);
    if (status != 0 && !InterruptionRequested()) PrintFailureContext(commandName, window, seams, prompt);
    if (InterruptionRequested()) {
        std::fprintf(stderr, "tavrel-cli %s: interrupted\n", commandName.c_str());
        // The shell's way of saying which signal ended the run.
        return InterruptionSignal() != 0 ? 128 + InterruptionSignal() : 1;
    }
    return status;
}

}  // namespace

int RunOperation(const std::string& commandName, const Options& options,
                 const std::function<int(OperationContext& context)>& operation) {
    for (const char* key : {"port", "probe", "usb-path"})
        if (commandName == "connect" && options.Values(key).size() > 1)
            return UsageError(commandName, std::string("--") + key + ": connect reaches one board; give one --" + key);
    if (options.Values("port").size() > 1 || options.Values("probe").size() > 1 || options.Values("usb-path").size() > 1 ||
        IsProductionRun(options)) {
        return RunBoards(commandName, options);
    }
    WatchBoardParent();
    const int status = RunOnOneBoard(commandName, options, operation);
    ReportBoardTraffic();
    return status;
}

}  // namespace tavrel::cli
