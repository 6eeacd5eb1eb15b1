#pragma once
// The simulated board's USB door as the programmer sees it: a DFU transport that reaches the
// board of a `tavrel-cli sim` process (TAVREL_SIM_SOCKET), or else a board in this process
// described by TAVREL_SIM_CONFIG (a KR2H70X board with default settings when that is unset).
#include <memory>
#include <string>

#include "links/DfuTransport.h"

namespace tavrel::sim {

inline constexpr const char* kSimSocketVariable = "TAVREL_SIM_SOCKET";
inline constexpr const char* kSimConfigVariable = "TAVREL_SIM_CONFIG";

struct SimDfuDoor {
    std::unique_ptr<DfuTransport> transport;
    std::string description;  // where the board is, for the user
};

// From the environment, as above. A null transport with `error` set when the board cannot be
// reached or its config text is wrong.
SimDfuDoor OpenSimDfuDoor(std::string& error);
// A board in this process from a config text. A family without USB gets a bus with no device.
SimDfuDoor OpenInProcessDfuDoor(const std::string& configText, std::string& error);
// The board of a `tavrel-cli sim` process.
SimDfuDoor OpenRemoteDfuDoor(const std::string& socketPath, std::string& error);

}  // namespace tavrel::sim
