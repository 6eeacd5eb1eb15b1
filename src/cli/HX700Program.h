#pragma once
// "program" for the KR2H70X: its page filled from --bin, --address, --erase and --verify, Start
// pressed, and the worker run over J-Link, UART or USB DFU.
#include "cli/Options.h"

namespace tavrel::cli {

int RunHX700ProgramCommand(const Options& options);

}  // namespace tavrel::cli
