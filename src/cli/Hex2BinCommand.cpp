// "hex2bin": convert an Intel HEX image the way every program operation does first, and show
// where its runs belong.
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/Command.h"
#include "cli/Options.h"
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

int RunHex2Bin(const std::vector<std::string>& args) {
    Options options(args, {});
    if (!options.ok()) {
        std::fprintf(stderr, "tavrel-cli hex2bin: %s\n", options.error().c_str());
        return 2;
    }
    const auto& words = options.positional();
    if (words.size() < 2 || words.size() > 3) {
        std::fprintf(stderr, "Usage: tavrel-cli hex2bin IN.hex OUT.bin [FLASH.bin]\n");
        return 2;
    }
    const std::string& hexPath = words[0];
    const std::string& firstOutput = words[1];
    const std::string secondOutput = words.size() == 3 ? words[2] : std::string();
    if (!secondOutput.empty() && std::filesystem::path(secondOutput) == std::filesystem::path(firstOutput)) {
        std::fprintf(stderr, "tavrel-cli hex2bin: OUT.bin and FLASH.bin must be different files\n");
        return 2;
    }

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

const RegisterCommand kHex2Bin{{"hex2bin", "hex2bin IN.hex OUT.bin [FLASH.bin]",
                                "convert an Intel HEX image into packed binaries (FLASH.bin: the runs at "
                                "0x1F000000-0x1FFFFFFF) and list its runs",
                                RunHex2Bin}};

}  // namespace
}  // namespace tavrel::cli
