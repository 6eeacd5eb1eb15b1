// "connect": bring the link to a board up and down again; the first thing to run on a new board.
#include "cli/ConnectCommand.h"

#include <algorithm>
#include <map>

#include "cli/Command.h"
#include "cli/CommandSeams.h"

namespace tavrel::cli {
namespace {

struct ConnectInterface {
    std::vector<std::string> options;
    ConnectHandler handler;
};

std::map<std::string, ConnectInterface>& Interfaces() {
    static std::map<std::string, ConnectInterface> interfaces;
    return interfaces;
}

// The options that belong to one interface or another, as opposed to --chip and --interface.
std::vector<std::string> InterfaceOptions() {
    std::vector<std::string> all;
    for (const auto& [name, entry] : Interfaces())
        for (const auto& option : entry.options)
            if (std::find(all.begin(), all.end(), option) == all.end()) all.push_back(option);
    return all;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

std::string JoinedFamilies() {
    return Joined(std::vector<std::string>(kFamilies.begin(), kFamilies.end()));
}

int RunConnect(const Options& options) {
    const std::string chip = options.ValueOr("chip", "");
    if (!IsKnownFamily(chip)) return ConnectUsage("--chip: unknown chip family '" + chip + "' (" + JoinedFamilies() + ")");
    const std::string interfaceName = options.ValueOr("interface", "JLINK");
    auto found = Interfaces().find(interfaceName);
    if (found == Interfaces().end())
        return ConnectUsage("--interface: '" + interfaceName + "' is not an interface (JLINK, UART or USB)");
    const ConnectInterface& chosen = found->second;
    for (const auto& name : options.Given(InterfaceOptions())) {
        if (std::find(chosen.options.begin(), chosen.options.end(), name) == chosen.options.end())
            return ConnectUsage("--" + name + " does not go with --interface " + interfaceName);
    }

    std::optional<FlashTypeRow> flashType;
    if (UsesFlashType(chip)) {
        const std::vector<std::string> choices = FlashTypeChoices(chip).value_or(std::vector<std::string>{});
        const std::string name = options.ValueOr("flash-type", choices.empty() ? "" : choices.front());
        if (std::find(choices.begin(), choices.end(), name) == choices.end())
            return ConnectUsage("--flash-type: '" + name + "' is not offered for " + chip + " (" + Joined(choices) + ")");
        flashType = LookupFlashType(name);
    } else if (options.Has("flash-type")) {
        return ConnectUsage("--flash-type: " + chip + " has no flash type to choose");
    }

    Seams seams = CommandSeams(CommandSettings(options));
    ConnectRequest request{options, seams, chip, flashType};
    return chosen.handler(request);
}

CommandRun DefineConnect(Options& options) {
    options.AddValue("chip", "FAMILY", "the chip family: " + JoinedFamilies(), Need::Required);
    options.AddValue("interface", "JLINK|UART|USB", "how the board is reached (default JLINK; USB: KR2H70X only)");
    options.AddValue("flash-type", "NAME",
                     "JLINK, UART: the external flash part the loader checks, for the families that have one "
                     "(default: the family's first)");
    options.AddValue("loader-dir", "DIR", "JLINK, UART: the folder of the flash loaders (default: config beside the program)");
    options.StartGroup("J-Link");
    options.AddValue("speed", "KHZ", "the probe's JTAG/SWD speed (default 8000)");
    options.StartGroup("UART");
    options.AddValue("port", "DEVICE", "the serial port (default: the first one of 'tavrel-cli ports')");
    options.AddValue("baud", "N", "the line speed, one the family offers (default: the family's usual one)");
    options.AddFlag("unlock-erase", "answer a locked boot ROM by erasing all flash (KR2A600, KR2H70X)");
    options.StartGroup("UART and USB");
    options.AddValue("unlock-password", "HEX",
                     "the password of a locked boot ROM (UART: the family's number of hexadecimal digits) or of a "
                     "protected DFU device (USB: 64 digits); without it, asked on the terminal");
    options.StartGroup("USB (KR2H70X)");
    options.AddValue("usb-id", "VID:PID",
                     "the boot ROM's USB ids in hexadecimal (default 1209:0001, or TAVREL_DFU_ID=VID:PID)");
    options.AddFlag("usb-sim",
                    "a simulated board in this process (TAVREL_SIM_CONFIG describes it, default chip=KR2H70X) "
                    "instead of USB");
    options.AddFooter(
        "The J-Link library is TAVREL_JLINK_LIBRARY, else libjlinkarm.so on the library path or in\n"
        "/opt/SEGGER/JLink*. The USB device is reached through libusb, unless TAVREL_SIM_SOCKET names the\n"
        "socket of a running 'tavrel-cli sim' board (then that board's DFU device) or --usb-sim is given.\n"
        "Temporary files go to TAVREL_WORK_DIR, else the documents folder + Tavrel.");
    return [&options] { return RunConnect(options); };
}

const RegisterCommand kConnect{{"connect", "open the link to a board, identify the chip and its flash, and close it",
                                DefineConnect}};

}  // namespace

RegisterConnect::RegisterConnect(const std::string& interfaceName, std::vector<std::string> options,
                                 ConnectHandler handler) {
    Interfaces()[interfaceName] = ConnectInterface{std::move(options), std::move(handler)};
}

int ConnectUsage(const std::string& text) { return UsageError("connect", text); }

}  // namespace tavrel::cli
