// The serial flash loader's side of the line is the fuzz input: its ready packet and the replies
// to a read, an erase and a flash-type check.
#include "FuzzSupport.h"
#include "ScriptedLine.h"
#include "links/UartLoaderChannel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    fuzz::InputReader input(std::span(data, size));
    const uint8_t choice = input.Byte();
    fuzz::SilentPrompt prompt;
    ManualClock clock;
    fuzz::ScriptedLine line(prompt, clock, input.Rest());
    UartLoaderChannel loader(line, *FindFamilyProfile(choice & 1 ? "KR2E500" : "KR2A600"));
    if (choice & 2) loader.WaitUartLoaderReady();
    LoaderReadData(loader, 100, 0x1000);
    LoaderEraseAll(loader);
    LoaderCheckFlashType(loader, 0x4014);
    loader.UartLoaderFinish();
    return 0;
}
