// "connect --interface USB": open the KR2H70X boot ROM's DFU device, unlock it when it is
// protected, show what was found, and close it again.
#include <cstdio>

#include "cli/ConnectCommand.h"
#include "cli/TerminalPrompt.h"
#include "links/DfuDeviceTable.h"
#include "links/DfuLink.h"
#include "links/DfuTarget.h"
#include "model/HexText.h"

namespace tavrel::cli {
namespace {

bool IsPassword(const std::string& text) {
    uint8_t bytes[kDfuPasswordBytes];
    return HexTextToBytes(text, bytes, sizeof bytes) == 0;
}

int RunConnectUsb(ConnectRequest& request) {
    const std::string& chip = request.chip;
    Seams& seams = request.seams;
    std::string error;
    const auto device = seams.DfuDevice(chip, error);
    if (!device) return ConnectUsage(error);
    TerminalPrompt prompt;
    prompt.offerErase = false;  // the DFU device unlocks by password only
    if (auto password = request.options.Value("unlock-password")) {
        if (!IsPassword(*password))
            return ConnectUsage("--unlock-password takes 64 hexadecimal digits (32 bytes) for USB");
        prompt.preset = SecurityAnswer{true, 1, *password};
    }

    OpenedDfuTransport opened = seams.OpenDfuTransport(error);
    if (!opened.transport) {
        std::fprintf(stderr, "tavrel-cli connect: %s\n", error.c_str());
        return 1;
    }
    DfuTransport& transport = *opened.transport;
    const std::string& via = opened.description;

    std::printf("Looking for the %s DFU device %s through %s\n", chip.c_str(),
                FormatUsbId(device->vendorId, device->productId).c_str(), via.c_str());
    std::fflush(stdout);
    DfuLink link(transport, seams.clock());
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

const RegisterConnect kUsb{"USB", {"usb-id", "usb-sim", "unlock-password"}, RunConnectUsb};

}  // namespace
}  // namespace tavrel::cli
