// "hex2bin": convert an image (Intel HEX, ELF or S-record) the way every program operation does first, and show
// where its runs belong.
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/Command.h"
#include "cli/TerminalPrompt.h"
#include "model/HexParser.h"
#include "model/SaveFile.h"

namespace tavrel::cli {
namespace {

void PrintRuns(const char* label, const SegmentList& list) {
    for (const ImageSegment& run : list.runs) {
        std::printf("%-8s0x%08" PRIX32 "  %" PRId32 "\n", label, run.startAddress, run.length);
    }
}

// The terminal's messages, noting the refusal of a run in the external flash (FLASH.bin not given).
class ExternalRunWatch final : public UserPrompt {
public:
    explicit ExternalRunWatch(UserPrompt& terminal) : terminal_(terminal) {}
    void ShowMessage(const std::string& text, MessageIcon icon) override {
        if (text == kHexExternalWithoutOutput) externalRefused = true;
        terminal_.ShowMessage(text, icon);
    }
    SecurityAnswer AskSecurity(const std::string& family) override { return terminal_.AskSecurity(family); }
    bool externalRefused = false;

private:
    UserPrompt& terminal_;
};

int RunHex2Bin(const Options& options) {
    const std::string hexPath = options.ValueOr("IN.hex", "");
    const std::string firstOutput = options.ValueOr("OUT.bin", "");
    const std::string secondOutput = options.ValueOr("FLASH.bin", "");
    std::error_code error;
    if (!secondOutput.empty() && std::filesystem::weakly_canonical(secondOutput, error) ==
                                     std::filesystem::weakly_canonical(firstOutput, error))
        return UsageError("hex2bin", "OUT.bin and FLASH.bin must be different files");

    // Converted into work files beside the outputs, which replace the outputs only when the
    // whole file converted: an output is written whole or not at all, by the rules every saved
    // file follows.
    std::string detail;
    SaveFileWriter first;
    SaveFileWriter second;
    if (!first.Open(firstOutput, detail) || (!secondOutput.empty() && !second.Open(secondOutput, detail))) {
        std::fprintf(stderr, "tavrel-cli hex2bin: %s\n", detail.c_str());
        return 1;
    }

    TerminalPrompt terminal;
    ExternalRunWatch prompt(terminal);
    CHexParser parser(prompt);
    SegmentList firstList;
    SegmentList secondList;
    // Through the writers that created the work files: never reopened by name.
    SaveFileSink firstSink(first);
    SaveFileSink secondSink(second);
    if (!parser.ConvertImageFile(hexPath, firstSink, secondOutput.empty() ? nullptr : &secondSink, firstList,
                                 &secondList, "")) {
        if (prompt.externalRefused)
            std::fprintf(stderr, "tavrel-cli hex2bin: give FLASH.bin as a third argument to keep those runs in a file "
                                 "of their own\n");
        if (parser.FailedLine() > 0)
            std::fprintf(stderr, "tavrel-cli hex2bin: %s: conversion stopped at line %d\n", hexPath.c_str(),
                         parser.FailedLine());
        return 1;
    }
    if (!first.Commit(detail) || (!secondOutput.empty() && !second.Commit(detail))) {
        std::fprintf(stderr, "tavrel-cli hex2bin: %s\n", detail.c_str());
        return 1;
    }

    std::printf("%-8s%-12s%s\n", "region", "start", "length");
    PrintRuns("0", firstList);
    PrintRuns("1", secondList);
    std::printf("%-8s0x%08" PRIX32 "\n", "entry", firstList.entryAddress);
    return 0;
}

CommandRun DefineHex2Bin(Options& options) {
    options.AddPositional("IN.hex", "the image: Intel HEX, ELF or S-record, told by its content");
    options.AddPositional("OUT.bin", "the packed binary of the runs outside the external flash");
    options.AddPositional("FLASH.bin", "the packed binary of the runs at 0x1F000000-0x1FFFFFFF (without it, such "
                                       "runs are refused)",
                          Need::Optional);
    return [&options] { return RunHex2Bin(options); };
}

const RegisterCommand kHex2Bin{{"hex2bin",
                                "convert an Intel HEX, ELF or S-record image into packed binaries (FLASH.bin: the runs at "
                                "0x1F000000-0x1FFFFFFF) and list its runs",
                                DefineHex2Bin}};

}  // namespace
}  // namespace tavrel::cli
