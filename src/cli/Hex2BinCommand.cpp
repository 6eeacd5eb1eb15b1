// "hex2bin": convert an Intel HEX image the way every program operation does first, and show
// where its runs belong.
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/Command.h"
#include "cli/TerminalPrompt.h"
#include "model/HexParser.h"
#include "model/WorkFiles.h"
#include "platform/Folders.h"

namespace tavrel::cli {
namespace {

// Converted into a partial file beside each output and renamed over it only when the whole
// file converted, so an output is written whole or not at all.
std::string PartialPath(const std::string& output) {
    return output + "." + std::to_string(platform::CurrentProcessId()) + std::string(kTempSuffix);
}

void PrintRuns(const char* label, const SegmentList& list) {
    for (const ImageSegment& run : list.runs) {
        std::printf("%-8s0x%08" PRIX32 "  %" PRId32 "\n", label, run.startAddress, run.length);
    }
}

int RunHex2Bin(const Options& options) {
    const std::string hexPath = options.ValueOr("IN.hex", "");
    const std::string firstOutput = options.ValueOr("OUT.bin", "");
    const std::string secondOutput = options.ValueOr("FLASH.bin", "");
    if (!secondOutput.empty() && std::filesystem::path(secondOutput) == std::filesystem::path(firstOutput))
        return UsageError("hex2bin", "OUT.bin and FLASH.bin must be different files");

    for (const std::string& output : {firstOutput, secondOutput}) {
        if (output.empty()) continue;
        const std::filesystem::path folder = std::filesystem::absolute(output).parent_path();
        if (!std::filesystem::is_directory(folder)) {
            std::fprintf(stderr, "tavrel-cli hex2bin: the folder %s does not exist\n", folder.c_str());
            return 1;
        }
    }

    TerminalPrompt prompt;
    CHexParser parser(prompt);
    SegmentList first;
    SegmentList second;
    const std::string firstPartial = PartialPath(firstOutput);
    const std::string secondPartial = secondOutput.empty() ? std::string() : PartialPath(secondOutput);
    bool ok = parser.ConvertHexToBinary(hexPath, firstPartial, secondPartial, first, &second, "");
    if (!ok && parser.FailedLine() > 0) {
        std::fprintf(stderr, "tavrel-cli hex2bin: %s: conversion stopped at line %d\n", hexPath.c_str(),
                     parser.FailedLine());
    }
    if (ok) {
        std::error_code error;
        std::filesystem::rename(firstPartial, firstOutput, error);
        if (!error && !secondOutput.empty()) std::filesystem::rename(secondPartial, secondOutput, error);
        if (error) {
            std::fprintf(stderr, "tavrel-cli hex2bin: cannot write the output: %s\n", error.message().c_str());
            ok = false;
        }
    }
    DeleteTempFile(firstPartial);
    if (!secondPartial.empty()) DeleteTempFile(secondPartial);
    if (!ok) return 1;

    std::printf("%-8s%-12s%s\n", "region", "start", "length");
    PrintRuns("0", first);
    PrintRuns("1", second);
    std::printf("%-8s0x%08" PRIX32 "\n", "entry", first.entryAddress);
    return 0;
}

CommandRun DefineHex2Bin(Options& options) {
    options.AddPositional("IN.hex", "the Intel HEX image");
    options.AddPositional("OUT.bin", "the packed binary of the runs outside the external flash");
    options.AddPositional("FLASH.bin", "the packed binary of the runs at 0x1F000000-0x1FFFFFFF (without it, such "
                                       "runs are refused)",
                          Need::Optional);
    return [&options] { return RunHex2Bin(options); };
}

const RegisterCommand kHex2Bin{{"hex2bin",
                                "convert an Intel HEX image into packed binaries (FLASH.bin: the runs at "
                                "0x1F000000-0x1FFFFFFF) and list its runs",
                                DefineHex2Bin}};

}  // namespace
}  // namespace tavrel::cli
