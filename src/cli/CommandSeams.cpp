#include "cli/CommandSeams.h"

#include <utility>

#include "sim/SimDfuTransport.h"

namespace tavrel::cli {

Settings CommandSettings(const Options& options) {
    Settings settings = SettingsFromEnvironment();
    if (auto folder = options.Value("loader-dir")) settings.loaderFolder = *folder;
    if (auto id = options.Value("usb-id")) settings.dfuId = SettingValue{*id, "--usb-id"};
    if (options.Has("usb-sim")) settings.simulatedUsb = true;
    // Checked by the command; each board of several runs in a process of its own with one path.
    if (auto path = options.Value("usb-path")) settings.usbPath = *path;
    // Checked by the command before it gets here; a malformed one chooses none.
    if (auto probe = options.Value("probe")) settings.jlinkProbe = ParseNumber(*probe).value_or(0);
    return settings;
}

Seams CommandSeams(Settings settings) {
    return Seams(std::move(settings), JLinkApi::Process(), SystemClock(),
                 [](const Settings& chosen, std::string& error) {
                     return sim::OpenSimDfuTransport(chosen.simSocket, chosen.simConfig, error);
                 });
}

}  // namespace tavrel::cli
