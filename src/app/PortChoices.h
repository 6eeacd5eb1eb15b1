#pragma once

#include <string>
#include <vector>

#include "app/Settings.h"

namespace tavrel {

// The UART panel's port list: the machine's serial devices, then the serial doors of simulated
// boards the settings name (a pseudo-terminal is no device of the machine, so the list would not
// show it otherwise). A named door that is not there is left out and reported in missing.
struct PortChoices {
    std::vector<std::string> ports;
    std::vector<std::string> missing;
};
PortChoices SerialPortChoices(const Settings& settings, std::vector<std::string> machinePorts);

}  // namespace tavrel
