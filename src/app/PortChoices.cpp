#include "app/PortChoices.h"

#include <algorithm>
#include <filesystem>

namespace tavrel {

PortChoices SerialPortChoices(const Settings& settings, std::vector<std::string> machinePorts) {
    PortChoices choices{std::move(machinePorts), {}};
    for (const std::string& door : settings.simPorts) {
        std::error_code error;
        if (!std::filesystem::exists(door, error)) {
            choices.missing.push_back(door);
            continue;
        }
        if (std::find(choices.ports.begin(), choices.ports.end(), door) == choices.ports.end())
            choices.ports.push_back(door);
    }
    return choices;
}

}  // namespace tavrel
