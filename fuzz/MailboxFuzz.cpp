// The J-Link mailbox receive path against a scripted probe: the flag words, reply headers and
// replies the loader leaves in SRAM come from the fuzz input (ScriptedProbe). The loader's ready
// packet, then a read, an erase, a flash-type check and the finish command. With the endless bit
// the probe never runs out of answers, and the run must still end within the bound of the flag
// waits it made.
#include <cstdlib>

#include "FuzzSupport.h"
#include "ScriptedProbe.h"
#include "links/LoaderCommands.h"
#include "links/Mailbox.h"
#include "links/TargetLink.h"

namespace {

// Every flag wait a run can make: the ready packet's, two per exchange of three commands (each
// repeated up to three times while the loader answers busy), and the finish command's.
constexpr uint64_t kMostWaits = 1 + 3 * 3 * 2 + 1;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    fuzz::InputReader input(std::span(data, size));
    const uint8_t choice = input.Byte();
    const bool endless = (choice & 0x80) != 0;
    fuzz::SilentPrompt prompt;
    ManualClock clock;
    // The endless probe waits each flag a fiftieth of the loader's bound, so that a run through
    // every wait takes thousands of reads rather than millions.
    const uint64_t waitMs = endless ? kMailboxWaitMs / 50 : kMailboxWaitMs;
    // A wait may overrun its bound by one poll and the probe's accesses around it.
    const uint64_t boundMs = endless ? kMostWaits * (waitMs + 10) + 1000 : 0;
    JLinkApi& api = JLinkApi::Process();
    fuzz::ScriptedProbe probe(api, clock, input.Rest(), endless, boundMs);
    TargetLink link(prompt, api);
    const char* family = choice & 1 ? "KR2E500" : "KR2A600";

    if (choice & 2) WaitLoaderReady(link, family, clock, waitMs);
    MailboxChannel channel(link, family, clock, waitMs);
    if (LoaderReadData(channel, 100, 0x1000) && channel.ReplyData().size() != 100) std::abort();
    LoaderEraseAll(channel);
    LoaderCheckFlashType(channel, 0x4014);
    LoaderFinish(channel);
    return 0;
}
