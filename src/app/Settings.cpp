#include "app/Settings.h"

#include <cstdlib>

#include "platform/Folders.h"

namespace tavrel {

std::optional<std::string> ProcessEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

Settings SettingsFromEnvironment(const EnvironmentLookup& lookup) {
    Settings settings;
    if (auto file = lookup(kJLinkLibraryVariable)) settings.jlinkLibrary = SettingValue{*file, kJLinkLibraryVariable};
    if (auto folder = lookup(kWorkFolderVariable)) {
        settings.workFolder = *folder;
    } else {
        const auto home = platform::HomeFolder(lookup("HOME").value_or(""));
        const auto documents = platform::DocumentsFolder(home, lookup("XDG_CONFIG_HOME").value_or(""));
        if (!documents.empty()) settings.workFolder = (documents / "Tavrel").string();
    }
    if (auto id = lookup(kDfuIdVariable)) settings.dfuId = SettingValue{*id, kDfuIdVariable};
    settings.simSocket = lookup(kSimSocketVariable).value_or("");
    settings.simConfig = lookup(kSimConfigVariable).value_or("");
    if (auto module = lookup(kPkcs11ModuleVariable)) settings.pkcs11Module = SettingValue{*module, kPkcs11ModuleVariable};
    return settings;
}

}  // namespace tavrel
