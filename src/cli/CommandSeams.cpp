#include "cli/CommandSeams.h"

#include <utility>

#include "sim/SimDfuTransport.h"

namespace tavrel::cli {

Settings CommandSettings(const Options& options) {
    Settings settings = SettingsFromEnvironment();
    if (auto folder = options.Value("loader-dir")) settings.loaderFolder = *folder;
    if (auto id = options.Value("usb-id")) settings.dfuId = SettingValue{*id, "--usb-id"};
    if (options.Has("usb-sim")) settings.simulatedUsb = true;
    return settings;
}

Seams CommandSeams(Settings settings) {
    return Seams(std::move(settings), JLinkApi::Process(), SystemClock(),
                 [](const Settings& chosen, std::string& error) {
                     return sim::OpenSimDfuTransport(chosen.simSocket, chosen.simConfig, error);
                 });
}

}  // namespace tavrel::cli
