#pragma once
// The simulated board's USB door as the programmer sees it: a DFU transport that reaches a
// board in a `tavrel-cli sim` process (TAVREL_SIM_SOCKET), or else a board of its own.
#include <memory>
#include <string>

#include "links/DfuTransport.h"

namespace tavrel::sim {

struct SimDfuDoor {
    std::unique_ptr<DfuTransport> transport;
    std::string description;  // where the board is, for the user
};

// Null transport with `error` set when the board cannot be reached or set up.
SimDfuDoor OpenSimDfuDoor(std::string& error);

}  // namespace tavrel::sim
