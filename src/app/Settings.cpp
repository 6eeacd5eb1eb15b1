#include "app/Settings.h"

#include <cstdlib>

#include "links/Mailbox.h"
#include "model/TextList.h"
#include "platform/Folders.h"

namespace tavrel {

namespace {

// Whole milliseconds that only shorten the loader's bound; anything else leaves it as it is.
std::optional<uint64_t> ParseWaitMs(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const uint64_t value = std::stoull(text);
    if (value == 0 || value > kMailboxWaitMs) return std::nullopt;
    return value;
}

// A whole percent from 1 to 100: the serial line's bounds can only be shortened.
std::optional<uint32_t> ParsePercent(const std::string& text) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const uint32_t value = static_cast<uint32_t>(std::stoul(text));
    if (value == 0 || value > 100) return std::nullopt;
    return value;
}

}  // namespace

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
    if (auto ports = lookup(kSimPortVariable)) settings.simPorts = SplitTextList(*ports, ':');
    settings.simConfig = lookup(kSimConfigVariable).value_or("");
    if (auto module = lookup(kPkcs11ModuleVariable)) settings.pkcs11Module = SettingValue{*module, kPkcs11ModuleVariable};
    if (auto wait = lookup(kMailboxWaitVariable)) settings.mailboxWaitMs = ParseWaitMs(*wait);
    if (auto percent = lookup(kUartWaitVariable)) settings.uartWaitPercent = ParsePercent(*percent);
    return settings;
}

}  // namespace tavrel
