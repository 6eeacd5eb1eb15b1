#include "app/Seams.h"

#include <memory>
#include <utility>

#include "platform/LibusbDfuTransport.h"

namespace tavrel {

Seams::Seams(Settings settings, JLinkApi& jlink, Clock& clock, SimulatedDfu simulatedDfu)
    : settings_(std::move(settings)), jlink_(jlink), clock_(clock), simulatedDfu_(std::move(simulatedDfu)) {
    if (settings_.jlinkLibrary)
        jlink_.UseLibraryFile(settings_.jlinkLibrary->value, settings_.jlinkLibrary->origin);
    else
        jlink_.UseLibraryFile({}, {});
    jlink_.UseProbe(settings_.jlinkProbe);
}

std::optional<DfuDeviceRow> Seams::DfuDevice(const std::string& family, std::string& error) const {
    error.clear();
    std::optional<UsbId> configured;
    if (settings_.dfuId) {
        configured = ParseUsbId(settings_.dfuId->value);
        if (!configured) {
            error = settings_.dfuId->origin + ": '" + settings_.dfuId->value +
                    "' is not a USB id of the form VID:PID (hexadecimal, e.g. 1209:0001)";
            return std::nullopt;
        }
    }
    auto row = FindDfuDevice(family, configured);
    if (!row) error = family + " is not reached over USB";
    else row->usbPath = settings_.usbPath;
    return row;
}

OpenedDfuTransport Seams::OpenDfuTransport(std::string& error) {
    error.clear();
    if (!settings_.UsesSimulatedUsb()) return {std::make_unique<LibusbDfuTransport>(), "libusb"};
    if (!simulatedDfu_) {
        error = "this program cannot run a simulated board";
        return {};
    }
    return simulatedDfu_(settings_, error);
}

}  // namespace tavrel
