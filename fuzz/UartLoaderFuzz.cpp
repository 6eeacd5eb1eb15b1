// The serial flash loader's side of the line is the fuzz input: its ready packet and the replies
// to a read, an erase and a flash-type check. With the endless bit the loader never stops sending
// and the run must end within the bound of its waits.
#include "FuzzSupport.h"
#include "ScriptedLine.h"
#include "links/UartLoaderChannel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    fuzz::InputReader input(std::span(data, size));
    const uint8_t choice = input.Byte();
    fuzz::SilentPrompt prompt;
    ManualClock clock;
    const bool endless = (choice & 0x80) != 0;
    // The ready wait's 20 rounds of one byte bound (and the byte that ends each), then three
    // commands of at most five exchanges, each a reply header and its rest, and the clearing of
    // what a failed reply left before the next.
    const UartTimings timings = endless ? fuzz::EndlessTimings() : UartTimings{};
    const uint64_t boundMs = 20 * 2 * uint64_t{timings.readyByteMs} +
                             3 * 5 * (uint64_t{timings.replyHeaderMs} + 2 * uint64_t{timings.readMs}) + 1000;
    fuzz::ScriptedLine line(prompt, clock, input.Rest(), endless, endless ? boundMs : 0, "UART loader channel", timings);
    UartLoaderChannel loader(line, *FindFamilyProfile(choice & 1 ? "KR2E500" : "KR2A600"));
    if (choice & 2) loader.WaitUartLoaderReady();
    LoaderReadData(loader, 100, 0x1000);
    LoaderEraseAll(loader);
    LoaderCheckFlashType(loader, 0x4014);
    loader.UartLoaderFinish();
    return 0;
}
