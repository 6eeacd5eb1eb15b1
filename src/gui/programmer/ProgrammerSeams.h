// The links the programmer window runs its operations on: those of the machine, and a simulated
// board's DFU device when the settings ask for one (TAVREL_SIM_SOCKET, or --usb-sim for a board
// inside the program), as the command line has them.
#pragma once

#include "app/Seams.h"
#include "app/Settings.h"

namespace tavrel::gui {

Seams ProgrammerSeams(Settings settings);

}  // namespace tavrel::gui
