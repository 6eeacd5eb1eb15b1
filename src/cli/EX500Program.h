#pragma once
#include "cli/Options.h"

namespace tavrel::cli {

// "program" for the KR2E500 group: the page filled from the options, Start pressed, the worker run.
int RunEX500ProgramCommand(const Options& options);

}  // namespace tavrel::cli
