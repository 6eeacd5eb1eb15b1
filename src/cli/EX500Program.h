#pragma once

namespace tavrel::cli {

class Options;
struct OperationContext;

// "program" for the KR2E500 group: the page filled from the options, Start pressed, the worker run.
int ProgramEX500(const Options& options, OperationContext& context);

}  // namespace tavrel::cli
