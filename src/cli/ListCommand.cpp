// "list": what a run could reach from here: the J-Link probes (serial number and product, from
// the probe list the J-Link route asks for) and the serial ports.
#include <cstdio>
#include <vector>

#include "cli/Command.h"
#include "cli/CommandSeams.h"
#include "links/panels/UartConfigDlg.h"

namespace tavrel::cli {
namespace {

constexpr int kHostInterfaceUsb = 1;

void ListProbes(Seams& seams) {
    JLinkApi& api = seams.jlink();
    if (!api.Load()) {
        std::printf("J-Link probes: none (%s)\n", api.error().c_str());
        return;
    }
    std::vector<uint8_t> list(JLinkApi::kProbeListBytes);
    const int found = api.EMU_GetList(kHostInterfaceUsb, list.data(), JLinkApi::kMaxProbes);
    const auto probes = JLinkApi::ProbeList(list, found);
    std::printf("J-Link probes: %d\n", found < 0 ? 0 : found);
    for (const JLinkProbeInfo& probe : probes)
        std::printf("  serial %u  %s\n", probe.serialNumber, probe.product.empty() ? "J-Link" : probe.product.c_str());
}

void ListPorts() {
    UartConfigDlg panel;
    std::printf("Serial ports:\n");
    for (const auto& port : panel.portList.items) std::printf("  %s\n", port.c_str());
}

int RunList(const Options& options) {
    Seams seams = CommandSeams(CommandSettings(options));
    ListProbes(seams);
    ListPorts();
    std::fflush(stdout);
    return 0;
}

CommandRun DefineList(Options& options) {
    options.AddFooter("The J-Link library is TAVREL_JLINK_LIBRARY, else libjlinkarm.so on the library path or in\n"
                      "/opt/SEGGER/JLink*.");
    return [&options] { return RunList(options); };
}

const RegisterCommand kList{{"list", "list the J-Link probes (serial numbers for --probe) and the serial ports", DefineList}};

}  // namespace
}  // namespace tavrel::cli
