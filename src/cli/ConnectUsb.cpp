// "connect --interface USB": open the KR2H70X boot ROM's DFU device, unlock it when it is
// protected, show what was found, and close it again.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/Command.h"
#include "cli/Options.h"
#include "cli/TerminalPrompt.h"
#include "links/DfuDeviceTable.h"
#include "links/DfuLink.h"
#include "links/DfuTarget.h"
#include "links/LibusbDfuTransport.h"
#include "model/Catalogue.h"
#include "model/HexText.h"
#include "sim/SimDfuDoor.h"

namespace tavrel::cli {
namespace {

bool IsPassword(const std::string& text) {
    uint8_t bytes[kDfuPasswordBytes];
    return HexTextToBytes(text, bytes, sizeof bytes) == 0;
}

int RunConnectUsb(const std::vector<std::string>& args) {
    Options options(args, {"chip", "interface", "usb-id", "unlock-password"}, {"usb-sim"});
    if (!options.ok()) {
        std::fprintf(stderr, "tavrel-cli connect: %s\n", options.error().c_str());
        return 2;
    }
    if (!options.positional().empty()) {
        std::fprintf(stderr, "tavrel-cli connect: unexpected argument '%s'\n", options.positional().front().c_str());
        return 2;
    }
    const std::string chip = options.ValueOr("chip", "");
    if (chip.empty()) {
        std::fprintf(stderr, "tavrel-cli connect: --chip is required (USB reaches the KR2H70X)\n");
        return 2;
    }
    if (!OffersUsb(chip)) {
        std::fprintf(stderr, "tavrel-cli connect: the %s is not reached over USB; only the KR2H70X is\n",
                     chip.c_str());
        return 2;
    }
    TerminalPrompt prompt;
    prompt.offerErase = false;  // the DFU device unlocks by password only
    if (auto password = options.Value("unlock-password")) {
        if (!IsPassword(*password)) {
            std::fprintf(stderr, "tavrel-cli connect: --unlock-password takes 64 hexadecimal digits (32 bytes)\n");
            return 2;
        }
        prompt.preset = SecurityAnswer{true, 1, *password};
    }
    std::string error;
    auto device = ResolveDfuDevice(chip, options.Value("usb-id"), error);
    if (!device) {
        std::fprintf(stderr, "tavrel-cli connect: %s\n", error.c_str());
        return 2;
    }

    std::unique_ptr<DfuTransport> transport;
    std::string via;
    const char* socket = std::getenv(sim::kSimSocketVariable);
    if ((socket != nullptr && *socket != '\0') || options.Has("usb-sim")) {
        sim::SimDfuDoor door = sim::OpenSimDfuDoor(error);
        if (!door.transport) {
            std::fprintf(stderr, "tavrel-cli connect: %s\n", error.c_str());
            return 1;
        }
        transport = std::move(door.transport);
        via = door.description;
    } else {
        transport = std::make_unique<LibusbDfuTransport>();
        via = "libusb";
    }

    std::printf("Looking for the %s DFU device %s through %s\n", chip.c_str(),
                FormatUsbId(device->vendorId, device->productId).c_str(), via.c_str());
    std::fflush(stdout);
    DfuLink link(*transport, SystemClock());
    DfuTargetState state;
    const int result = OpenDfuTarget(link, *device, prompt, nullptr, 0, &state);
    if (result == 0) {
        const DfuDeviceInfo& info = link.deviceInfo();
        std::printf("chip: %s\ninterface: USB\n", chip.c_str());
        std::printf("DFU device %s, release %X.%02X: configuration %u, interface %u, alternate setting %u, "
                    "transfer size %u bytes\n",
                    FormatUsbId(info.vendorId, info.productId).c_str(), info.release >> 8, info.release & 0xFF,
                    info.configuration, info.interfaceNumber, info.alternateSetting, info.transferSize);
        std::printf("Device information:");
        for (uint8_t byte : state.information.bytes) std::printf(" %02X", byte);
        std::printf("\nProtection: %s\n", state.unlocked ? "unlocked with the password" : "none");
    }
    const int closed = link.DfuClose();
    if (result == 0 && closed != 0) prompt.ShowMessage("Could not release the DFU interface", MessageIcon::Warning);
    return result == 0 ? 0 : 1;
}

const RegisterConnect kUsb{"USB", RunConnectUsb};

const RegisterHelp kUsbHelp{
    "connect",
    "USB (KR2H70X only): --chip KR2H70X --interface USB [--usb-id VID:PID] [--unlock-password HEX64] [--usb-sim]\n"
    "  --usb-id VID:PID           the boot ROM's USB ids in hexadecimal (default 1209:0001,\n"
    "                             or TAVREL_DFU_ID=VID:PID)\n"
    "  --unlock-password HEX64    the 64-digit password of a protected device; without it a\n"
    "                             protected device asks on the terminal\n"
    "  --usb-sim                  a simulated board in this process (TAVREL_SIM_CONFIG describes\n"
    "                             it, default chip=KR2H70X) instead of USB\n"
    "  The device is reached through libusb, unless TAVREL_SIM_SOCKET names the socket of a\n"
    "  running 'tavrel-cli sim' board (then that board's DFU device) or --usb-sim is given.\n"};

}  // namespace
}  // namespace tavrel::cli
