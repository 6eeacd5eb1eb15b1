#pragma once
// The udev rule an installed kit carries: the boot ROMs' USB DFU devices (the families' default
// ids) open to the user logged in at the seat.
#include <string>

namespace tavrel::cli {

std::string UdevRule();

}  // namespace tavrel::cli
