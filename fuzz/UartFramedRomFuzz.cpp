// The framed-protocol boot ROM against a line that answers with the fuzz input: the sync, the
// parameter word (with the password question), and the loader written and read back frame by frame.
// With the endless bit the ROM never stops sending and the run must end within its bound.
#include <cstdlib>

#include "FuzzSupport.h"
#include "HexFiles.h"
#include "ScriptedLine.h"
#include "links/UartFramedRom.h"
#include "model/HexParser.h"

namespace {

struct Loader {
    std::string path;
    tavrel::SegmentList runs;
};

// A converted loader of two runs (one of 130 bytes: two chunks, the second not whole words).
const Loader& ConvertedLoader() {
    static const Loader loader = [] {
        using namespace tavrel;
        const std::string hex = test::HexImage(0x20002000, test::PatternBytes(130)) +
                                test::HexImage(0x20003000, test::PatternBytes(2, 9)) +
                                test::HexStartLinear(0x20002001) + "\n" + test::HexEnd() + "\n";
        fuzz::SilentPrompt prompt;
        CHexParser parser(prompt);
        Loader made;
        made.path = fuzz::ScratchFolder() + "/loader.bin";
        const std::string source = fuzz::WriteScratchFile("framed_loader.hex", hex);
        if (!parser.ConvertHexToBinary(source, made.path, "", made.runs, nullptr, "")) std::abort();
        return made;
    }();
    return loader;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    const Loader& loader = ConvertedLoader();
    fuzz::InputReader input(std::span(data, size));
    const uint8_t choice = input.Byte();
    fuzz::SilentPrompt prompt(SecurityAnswer{true, 1, "0123456789ABCDEF"}, choice & 1);
    fuzz::SilentHost host;
    ManualClock clock;
    const bool endless = (choice & 0x80) != 0;
    // The sync window and its answer, the parameter word twice (the second with the password),
    // and each of the loader's frames written, acknowledged and read back three times over.
    const UartTimings timings = endless ? fuzz::EndlessTimings() : UartTimings{};
    const uint64_t frames = 3;
    const uint64_t boundMs = timings.syncWindowMs + 3 * uint64_t{timings.readMs} + 2 * uint64_t{timings.readMs} +
                             frames * 3 * (2 * uint64_t{timings.readMs} + timings.framePauseMs) +
                             3 * uint64_t{timings.readMs} + 1000;
    fuzz::ScriptedLine line(prompt, clock, input.Rest(), endless, endless ? boundMs : 0, "UART framed boot ROM", timings);
    UartFramedRom rom(line, host, *FindFamilyProfile(choice & 2 ? "KR2E700" : "KR2E500"));
    if (choice & 4) rom.SetPasswordWord(0x12345678);
    if (choice & 8) rom.SyncBootRom();
    rom.DownloadLoaderFramed(115200, loader.path, loader.runs);
    return 0;
}
