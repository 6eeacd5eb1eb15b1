#pragma once
// Several boards at once (the production line): program, erase or read given --port several
// times runs the same job on every port, each board in a process of its own (the serial state is
// the process's), shows their output together with the port in front, and ends with a summary.
#include <string>

#include "cli/Options.h"

namespace tavrel::cli {

// Runs `commandName` with the options given once per --port: the same program, the same options,
// one port each. Every line a board prints reaches the user prefixed with its port; progress shows
// one line per board (redrawn on a terminal). A table of port, result, time and bytes moved ends the
// run. Each board has a time limit (--board-time-limit SECONDS, else one derived from the job);
// a board past it is asked to stop, and killed if it does not. 0 when every board succeeded; 2 for
// a usage error; 128 + the signal when Ctrl-C, SIGTERM or a hang-up stopped the boards (each is
// asked to end through its own failure path); 1 otherwise.
int RunBoards(const std::string& commandName, const Options& options);

// In a board's process started by RunBoards: stop through the failure path when the parent ends.
// Nothing otherwise.
void WatchBoardParent();

// In a board's process started by RunBoards: the bytes its serial ports moved, as the last line of
// its standard error. Nothing otherwise.
void ReportBoardTraffic();

}  // namespace tavrel::cli
