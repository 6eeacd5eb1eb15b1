#pragma once
// "sim": one simulated board as a process. Besides the J-Link socket it opens every door that
// registered itself here (the serial door's pseudo-terminal, the DFU device), all served by the
// one event loop of the board's SimServer, and prints where each door is.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/SimServer.h"

namespace tavrel::cli {

struct SimDoorContext {
    sim::Board& board;
    sim::SimServer& server;  // SetHandler / Watch / Every: the door joins the board's loop
    std::string runFolder;   // a private folder of this run, removed at the end (e.g. for a link)
    bool pacedSerial = false;  // the serial line runs at the host's baud rate, as a real UART
};

// A door that is open; destroyed (and so closed) when the board stops.
class OpenSimDoor {
public:
    virtual ~OpenSimDoor() = default;
    // The lines printed for this door, e.g. "Serial door: /dev/pts/7" and how to use it.
    virtual std::vector<std::string> Lines() const = 0;
};

// Nothing, with error set, when the door cannot be opened (the board then does not start);
// nothing with error empty when the door does not apply to this board (e.g. DFU on a KR2A600).
using SimDoorOpener = std::function<std::unique_ptr<OpenSimDoor>(SimDoorContext& context, std::string& error)>;

// name: "serial" or "dfu" (the places kept for them in the printout), or another door's name.
struct RegisterSimDoor {
    RegisterSimDoor(std::string name, SimDoorOpener opener);
};

}  // namespace tavrel::cli
