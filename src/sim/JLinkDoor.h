#pragma once
// The J-Link door of a board: turns JLINKARM_ calls into probe actions, and answers the board
// controls (violations, call log, flash contents). The shared library calls it directly for a
// board in its own process; a `tavrel-cli sim` process serves the same calls over its socket.
#include <optional>
#include <span>
#include <vector>

#include "sim/SimProtocol.h"

namespace tavrel::sim {

class Board;
class SimProbe;
class SimServer;

JLinkResult ServeJLinkCall(SimProbe& probe, const JLinkCall& call);
// A kControl payload in, the reply payload out; nothing for a malformed request.
std::optional<std::vector<uint8_t>> ServeControl(Board& board, SimProbe& probe, std::span<const uint8_t> payload);
// Adds the kJLink and kControl handlers for this board to a server.
void AttachJLinkDoor(SimServer& server, Board& board, SimProbe& probe);

}  // namespace tavrel::sim
