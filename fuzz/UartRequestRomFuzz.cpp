// The request-protocol boot ROM against a line that answers with the fuzz input: the handshake
// (locked or not, the user erasing, giving a password or cancelling) and the loader download the
// ROM pulls with requests. With the endless bit the ROM never stops sending and the run must end
// within its bound.
#include <cstdlib>

#include "FuzzSupport.h"
#include "HexFiles.h"
#include "ScriptedLine.h"
#include "links/UartRequestRom.h"
#include "model/ImageFiles.h"

namespace {

// A loader image of two data blocks and the jump block, made once from a small HEX file.
const std::string& LoaderImage() {
    static const std::string path = [] {
        using namespace tavrel;
        const std::string hex = fuzz::WriteScratchFile(
            "loader.hex", test::HexImage(0x20000000, test::PatternBytes(16)) +
                              test::HexImage(0x20000100, test::PatternBytes(13, 7)) +
                              test::HexStartLinear(0x20000001) + "\n" + test::HexEnd() + "\n");
        fuzz::SilentPrompt prompt;
        const std::string image = fuzz::ScratchFolder() + "/loader_image.bin";
        if (BuildUartBootImage(prompt, hex, image) != 0) std::abort();
        return image;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    fuzz::InputReader input(std::span(data, size));
    const uint8_t choice = input.Byte();
    SecurityAnswer answer{true, (choice >> 1) & 1, "12345678"};
    fuzz::SilentPrompt prompt(answer, (choice >> 2) & 3);
    fuzz::SilentHost host;
    ManualClock clock;
    const bool endless = (choice & 0x40) != 0;
    // The handshake's 20 attempts (each a settle, the echo drained within one read bound and the
    // state byte), the unlock's two waits, and the download: two read bounds for each of the
    // loader's five steps (three headers, two data blocks) and two for its end.
    const UartTimings timings = endless ? fuzz::EndlessTimings() : UartTimings{};
    const uint64_t boundMs = 20 * (uint64_t{timings.handshakeSettleMs} + 2 * uint64_t{timings.readMs}) +
                             2 * uint64_t{timings.unlockLimitMs} + 12 * uint64_t{timings.readMs} + 1000;
    fuzz::ScriptedLine line(prompt, clock, input.Rest(), endless, endless ? boundMs : 0, "UART request boot ROM", timings);
    RomLockState lock{(choice & 1) != 0};
    UartRequestRom rom(line, host, lock, *FindFamilyProfile(choice & 0x10 ? "KR2H70X" : "KR2A600"));
    if (choice & 0x20) rom.RomHandshake();
    rom.DownloadLoaderByRequest(LoaderImage());
    return 0;
}
