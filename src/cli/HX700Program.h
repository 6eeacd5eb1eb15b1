#pragma once
// "program" for the KR2H70X: its page filled from --bin, --address, --erase and --verify, Start
// pressed, and the worker run over J-Link, UART or USB DFU.
#include "cli/OperationCommand.h"
#include "cli/Options.h"

namespace tavrel::cli {

int ProgramHX700(const Options& options, OperationContext& context);

}  // namespace tavrel::cli
