// "list": what a run could reach from here: the J-Link probes (serial number and product, from
// the probe list the J-Link route asks for), the USB DFU devices of the known ids and of
// --usb-id (where each sits on the bus, its serial string, protected or not) and the serial ports.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/CommandSeams.h"
#include "links/DfuDeviceTable.h"
#include "links/DfuLink.h"
#include "links/panels/UartConfigDlg.h"
#include "model/Catalogue.h"

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

// The ids to look for: each USB family's own, then the configured ones, each once.
struct KnownId {
    UsbId id;
    std::string whose;  // "KR2H70X", or the option or variable that named it
};

std::vector<KnownId> KnownIds(const std::optional<UsbId>& configured, const std::string& origin) {
    std::vector<KnownId> ids;
    auto add = [&ids](UsbId id, const std::string& whose) {
        for (KnownId& known : ids)
            if (known.id.vendorId == id.vendorId && known.id.productId == id.productId) return;
        ids.push_back({id, whose});
    };
    for (std::string_view family : kFamilies)
        if (auto row = FindDfuDevice(family)) add({row->vendorId, row->productId}, std::string(family));
    if (configured) add(*configured, origin);
    return ids;
}

// Whether the device at `path` is protected: opened, brought into its DFU mode (as every run
// does first) and asked for its information. None when it cannot be asked.
std::optional<bool> Protection(DfuLink& link, const DfuDeviceFound& device) {
    if (link.DfuOpen(device.vendorId, device.productId, device.path) != 0) return std::nullopt;
    std::optional<bool> result;
    DfuDeviceInformation information;
    if (link.DfuDetach(kDfuDetachTimeoutMs) == 0 && link.DfuGetInfo(information) == 0)
        result = information.isProtected();
    static_cast<void>(link.DfuClose());
    return result;
}

std::vector<std::string> DfuDeviceLines(Seams& seams, const std::vector<KnownId>& ids) {
    std::string error;
    OpenedDfuTransport opened = seams.OpenDfuTransport(error);
    if (!opened.transport) return {"USB DFU devices: none (" + error + ")"};
    DfuLink link(*opened.transport, seams.clock());
    std::vector<std::string> lines;
    bool listed = false;
    for (const KnownId& known : ids) {
        std::vector<DfuDeviceFound> found;
        if (link.DfuList(known.id.vendorId, known.id.productId, found) != 0) continue;
        listed = true;
        for (const DfuDeviceFound& device : found) {
            const auto isProtected = Protection(link, device);
            lines.push_back("  " + device.path + "  " + FormatUsbId(device.vendorId, device.productId) + "  " +
                            known.whose + "  serial " + (device.serial.empty() ? "(none)" : device.serial) + "  " +
                            (!isProtected ? "protection unknown (the device cannot be opened or asked)"
                                          : *isProtected ? "protected" : "not protected"));
        }
    }
    if (!listed) return {"USB DFU devices: none (the USB library cannot start or list the bus)"};
    lines.insert(lines.begin(), "USB DFU devices: " + std::to_string(lines.size()));
    return lines;
}

void ListPorts() {
    UartConfigDlg panel;
    std::printf("Serial ports:\n");
    for (const auto& port : panel.portList.items) std::printf("  %s\n", port.c_str());
}

int RunList(const Options& options) {
    Seams seams = CommandSeams(CommandSettings(options));
    const Settings& settings = seams.settings();
    std::optional<UsbId> configured;
    if (settings.dfuId) {
        configured = ParseUsbId(settings.dfuId->value);
        if (!configured)
            return UsageError("list", settings.dfuId->origin + ": '" + settings.dfuId->value +
                                          "' is not a USB id of the form VID:PID (hexadecimal, e.g. 1209:0001)");
    }
    // The USB bus first, and let go: simulated boards behind it and behind the probe library
    // would otherwise hold the same flash files at once.
    const auto usb = DfuDeviceLines(seams, KnownIds(configured, settings.dfuId ? settings.dfuId->origin : std::string()));
    ListProbes(seams);
    for (const std::string& line : usb) std::printf("%s\n", line.c_str());
    ListPorts();
    std::fflush(stdout);
    return 0;
}

CommandRun DefineList(Options& options) {
    options.StartGroup("USB");
    options.AddValue("usb-id", "VID:PID", "also list the DFU devices of these ids (hexadecimal)");
    options.AddFlag("usb-sim", "the simulated boards of TAVREL_SIM_CONFIG in this process instead of USB");
    options.AddFooter("The J-Link library is TAVREL_JLINK_LIBRARY, else libjlinkarm.so on the library path or in\n"
                      "/opt/SEGGER/JLink*. The DFU devices are those of the known boot ROM ids (KR2H70X 1209:0001),\n"
                      "TAVREL_DFU_ID and --usb-id, found through libusb (or the simulated boards); each is brought\n"
                      "into its DFU mode, as every run does, to ask whether it is protected. Give a device's path\n"
                      "to --usb-path and a probe's serial number to --probe.");
    return [&options] { return RunList(options); };
}

const RegisterCommand kList{{"list",
                             "list the J-Link probes (serial numbers for --probe), the USB DFU devices (paths for "
                             "--usb-path) and the serial ports",
                             DefineList}};

}  // namespace
}  // namespace tavrel::cli
