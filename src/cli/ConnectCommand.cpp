// "connect": open a flash session to a board, say what was found, finish it and close the link;
// the first thing to run on a new board. The bring-up is the operations' own (OpenFlashSession).
#include <algorithm>
#include <cstdio>

#include "cli/Command.h"
#include "cli/OperationCommand.h"
#include "cli/CommandSeams.h"
#include "links/DfuDeviceTable.h"
#include "links/TargetLink.h"
#include "links/panels/JlinkConfigDlg.h"
#include "model/Catalogue.h"
#include "model/FamilyProfile.h"
#include "model/WorkFiles.h"
#include "platform/Interruption.h"

namespace tavrel::cli {
namespace {

// The link as the selection reaches it, after "interface: ".
std::string LinkLine(const TargetSelection& target) {
    if (target.Interface() == InterfaceKind::Jlink) return "JLINK (" + std::to_string(target.jlinkSpeedKhz) + " kHz)";
    if (target.Interface() == InterfaceKind::Uart)
        return "UART (" + target.comPort + ", " + std::to_string(target.baudRate) + " baud)";
    return target.interfaceName;
}

int Connect(OperationContext& context) {
    const TargetSelection target = context.window.Snapshot();
    const FamilyProfile& profile = *FindFamilyProfile(target.family);
    const bool usb = target.Interface() == InterfaceKind::Usb;

    SessionOptions& options = context.link;
    options.jlinkLoaderLost = "MCU Jlink Load file lost";
    options.uartLoaderLost = "MCU Uart Loader file lost";
    auto report = [&](BringUpStep step, uint32_t) {
        if (step == BringUpStep::Connecting) {
            if (usb) {
                std::string error;
                if (const auto device = context.seams.DfuDevice(target.family, error))
                    std::fprintf(stderr, "Looking for the %s DFU device %s\n", target.family.c_str(),
                                 FormatUsbId(device->vendorId, device->productId).c_str());
            } else {
                std::fprintf(stderr, "Connect...\n");
            }
        } else if (step == BringUpStep::LoaderDownloading) {
            std::fprintf(stderr, "Download pre-program\n");
        }
    };
    auto session = OpenFlashSession(target, context.seams, context.progress, context.prompt, report, options);
    bool ok = session != nullptr;
    // The same check the erase and read pages make before their first command.
    ok = ok && CheckChosenFlashType(*session, target, target.flashTypeCode, context.prompt);
    if (ok) {
        std::printf("chip: %s\ninterface: %s\n", target.family.c_str(), LinkLine(target).c_str());
        if (!usb) {
            if (profile.checksFlashType)
                std::printf("flash type: %s (code %d, %u bytes)\n", target.flashTypeName.c_str(), target.flashTypeCode,
                            target.flashCapacity);
            else
                std::printf("flash type: none (%s has no external flash type)\n", target.family.c_str());
        }
        for (const std::string& line : session->Details()) std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    if (session && !session->Finish() && ok) {
        context.prompt.ShowMessage("The chip did not take the finish command", MessageIcon::Error);
        ok = false;
    }
    session.reset();
    // Interrupted, the command says so itself.
    if (!ok && !InterruptionRequested()) std::fprintf(stderr, "Connect Failed\n");
    return ok ? 0 : 1;
}

std::string NameList(const std::vector<std::string>& names, const char* last) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? last : ", ") + names[i];
    return text;
}

// --chip auto, for a family whose loader checks the flash type: the loader brought up over
// J-Link and asked about every flash type of the family's list, as the pages ask about the one
// chosen. 0 when exactly one type answered.
int NameFlashType(const FamilyProfile& profile, uint32_t speed, Seams& seams, TerminalPrompt& prompt) {
    TargetSelection target;
    target.family = std::string(profile.name);
    target.interfaceName = "JLINK";
    target.jlinkSpeedKhz = speed;
    SessionOptions options;
    options.jlinkLoaderLost = "MCU Jlink Load file lost";
    auto report = [](BringUpStep step, uint32_t) {
        if (step == BringUpStep::LoaderDownloading) std::fprintf(stderr, "Download pre-program\n");
    };
    std::vector<std::string> tried, answered;
    bool lost = false;
    {
        ProgressBar progress;
        auto session = OpenFlashSession(target, seams, progress, prompt, report, options);
        if (!session) {
            CloseFlashLink("JLINK", seams, prompt);
            if (!InterruptionRequested()) {
                if (prompt.shown > 0 && prompt.texts.back() == options.jlinkLoaderLost)
                    std::fprintf(stderr, "tavrel-cli connect: no loader file %s for the flash type check (give the "
                                         "folder of the loader files with --loader-dir DIR)\n",
                                 LoaderFileName(target.family, InterfaceKind::Jlink).c_str());
                std::fprintf(stderr, "tavrel-cli connect: the flash type of %s could not be checked: its loader did "
                                     "not start\n", target.family.c_str());
            }
            return 1;
        }
        for (const std::string& name : FlashTypeChoices(profile.name).value_or(std::vector<std::string>{})) {
            if (InterruptionRequested()) break;
            const auto row = LookupFlashType(name);
            if (!row) continue;
            tried.push_back(name);
            if (session->CheckFlashType(static_cast<uint16_t>(row->code))) {
                answered.push_back(name);
                continue;
            }
            // A refusal is a quick reply; a loader that no longer answers refuses everything after
            // its bound, so one small read tells the two apart before the next type is asked.
            uint8_t byte[1];
            if (!session->Read(0, byte)) {
                lost = true;
                break;
            }
        }
        if (!lost && !InterruptionRequested() && !session->Finish())
            prompt.ShowMessage("The chip did not take the finish command", MessageIcon::Error);
    }
    CloseFlashLink("JLINK", seams, prompt);
    if (InterruptionRequested()) return 1;
    if (lost) {
        std::fprintf(stderr, "tavrel-cli connect: the loader stopped answering while the flash type was checked "
                             "(after %s)\n", NameList(tried, " and ").c_str());
        return 1;
    }
    if (answered.size() == 1) {
        const auto row = LookupFlashType(answered.front());
        std::printf("flash type: %s (code %d, %u bytes)\n", answered.front().c_str(), row->code, row->capacity);
    } else if (answered.empty()) {
        std::printf("flash type: none of the %s list answered\n", target.family.c_str());
    } else {
        std::printf("flash type: %s all answered\n", NameList(answered, " and ").c_str());
    }
    std::printf("flash types tried: %s; answered: %s\n", NameList(tried, ", ").c_str(),
                answered.empty() ? "none" : NameList(answered, ", ").c_str());
    std::fflush(stdout);
    if (answered.empty()) {
        std::fprintf(stderr, "tavrel-cli connect: the loader took none of the flash types of %s: is the flash part "
                             "fitted and wired?\n", target.family.c_str());
        return 1;
    }
    if (answered.size() > 1) {
        std::fprintf(stderr, "tavrel-cli connect: choose the flash type with --flash-type (%s)\n",
                     NameList(answered, " or ").c_str());
        return 1;
    }
    return 0;
}

// --chip auto: each family's identification word read where its profile says, and the families
// whose word it is named. 0 when exactly one family matches; for a family whose loader checks
// the flash type, when exactly one type of its list answered as well.
int IdentifyChip(const Options& options) {
    if (InterfaceKindOf(options.ValueOr("interface", "JLINK")) != InterfaceKind::Jlink)
        return UsageError("connect", "--chip auto: the chip is identified over J-Link only (give --interface JLINK)");
    for (const std::string& other : options.Given({"port", "baud", "unlock-erase", "unlock-password", "usb-id", "usb-sim",
                                                   "usb-path", "flash-type", "flash-location"}))
        return UsageError("connect", "--" + other + " does not go with --chip auto");
    uint32_t speed = 8000;
    if (auto given = options.Value("speed")) {
        const auto value = ParseNumber(*given);
        const auto& choices = JlinkConfigDlg::kSpeedChoicesKhz;
        if (!value || std::find(choices.begin(), choices.end(), *value) == choices.end())
            return UsageError("connect", "--speed: '" + *given + "' is not a J-Link speed of the list (8000, 4000, 2000, 1000, 500, 100)");
        speed = *value;
    }
    if (options.Values("probe").size() > 1) return UsageError("connect", "--probe: connect reaches one board; give one --probe");
    if (auto probe = options.Value("probe"); probe && (!ParseNumber(*probe) || *ParseNumber(*probe) == 0))
        return UsageError("connect", "--probe: '" + *probe + "' is not a J-Link serial number (see tavrel-cli list)");

    TerminalPrompt prompt;
    Seams seams = CommandSeams(CommandSettings(options));
    // Ctrl-C or SIGTERM fails the link's next wait.
    InstallInterruptionHandlers();
    TargetLink link(prompt, seams.jlink());
    std::vector<uint32_t> addresses;
    for (auto family : kFamilies) {
        const uint32_t address = FindFamilyProfile(family)->chipIdAddress;
        if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) addresses.push_back(address);
    }
    std::fprintf(stderr, "Connect...\n");
    const auto words = link.ReadIdWords(addresses);
    link.CloseTarget();
    if (!words) {
        std::fprintf(stderr, "Connect Failed\n");
        return 1;
    }
    std::vector<std::string> matches;
    for (auto family : kFamilies) {
        const FamilyProfile& profile = *FindFamilyProfile(family);
        for (const auto& word : *words)
            if (word.read && word.address == profile.chipIdAddress && word.value == profile.chipId)
                matches.emplace_back(family);
    }
    char line[80];
    if (matches.size() == 1) {
        std::printf("chip: %s\ninterface: JLINK (%u kHz)\n", matches.front().c_str(), speed);
        std::fflush(stdout);
        const FamilyProfile& profile = *FindFamilyProfile(matches.front());
        if (!profile.checksFlashType) return 0;
        return NameFlashType(profile, speed, seams, prompt);
    }
    if (matches.empty()) {
        std::string read;
        for (const auto& word : *words) {
            if (word.read)
                std::snprintf(line, sizeof line, "%s0x%08X at 0x%08X", read.empty() ? "" : ", ", word.value, word.address);
            else
                std::snprintf(line, sizeof line, "%snothing at 0x%08X", read.empty() ? "" : ", ", word.address);
            read += line;
        }
        std::fprintf(stderr, "tavrel-cli connect: the chip matches no family (read %s)\n", read.c_str());
        return 1;
    }
    const std::string names = NameList(matches, " and ");
    std::printf("chip: %s share this identification word\n", names.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "tavrel-cli connect: choose the family with --chip (%s)\n", names.c_str());
    return 1;
}

CommandRun DefineConnect(Options& options) {
    DeclareTargetOptions(options);
    options.AddFooter(
        "The J-Link library is TAVREL_JLINK_LIBRARY, else libjlinkarm.so on the library path or in\n"
        "/opt/SEGGER/JLink*. The USB device is reached through libusb, unless TAVREL_SIM_SOCKET names the\n"
        "socket of a running 'tavrel-cli sim' board (then that board's DFU device) or --usb-sim is given\n"
        "(TAVREL_SIM_CONFIG describes that board, default chip=KR2H70X). TAVREL_DFU_ID=VID:PID changes\n"
        "the DFU boot ROM's ids. Temporary files go to TAVREL_WORK_DIR, else the documents folder + Tavrel.\n"
        "--chip auto (J-Link) reads each family's identification word and names the family it finds; for\n"
        "KR2E550, KR2G700 and KR2H70X it then starts the loader and asks it about each flash type of the\n"
        "family's list, and names the one that answered.");
    return [&options] {
        if (options.ValueOr("chip", "") == "auto") {
            const int status = IdentifyChip(options);
            if (!InterruptionRequested()) return status;
            std::fprintf(stderr, "tavrel-cli connect: interrupted\n");
            return InterruptionSignal() != 0 ? 128 + InterruptionSignal() : 1;
        }
        return RunOperation("connect", options, Connect);
    };
}

const RegisterCommand kConnect{{"connect", "open the link to a board, identify the chip and its flash, and close it",
                                DefineConnect}};

}  // namespace
}  // namespace tavrel::cli
