#pragma once
// "program" for the KR2H70X: its page filled from --bin, --address, --erase and --verify, Start
// pressed, and the worker run over J-Link, UART or USB DFU.
namespace tavrel::cli {

class Options;
struct OperationContext;

int ProgramHX700(const Options& options, OperationContext& context);

}  // namespace tavrel::cli
