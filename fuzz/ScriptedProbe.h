#pragma once
// A J-Link probe whose target memory holds what the fuzz input says, read by read. Each read
// takes one control byte: 0xFF fails the read; below 0x60, a read of one word gets the mailbox
// flag word (control % 6) of the loader protocol, so the fuzzer reaches the replies behind the
// flags; anything else reads the next bytes of the input (zeros where it ran out). Writes always
// succeed. When the input is used up every read fails, unless the probe is endless: then the
// input starts again from its front (a target that never stops answering), and each access
// costs a millisecond on the clock; an access after boundMs on the clock (0: none) is a finding.
#include <span>
#include <vector>

#include "platform/Clock.h"
#include "platform/JLinkApi.h"

namespace tavrel::fuzz {

class ScriptedProbe {
public:
    // Loads the stub library into api (once) and points its accesses at this probe. One probe
    // exists at a time: the library's functions are plain C pointers.
    ScriptedProbe(JLinkApi& api, ManualClock& clock, std::span<const uint8_t> script, bool endless,
                  uint64_t boundMs = 0);
    ~ScriptedProbe();
    ScriptedProbe(const ScriptedProbe&) = delete;
    ScriptedProbe& operator=(const ScriptedProbe&) = delete;

private:
    static int Read(uint32_t address, uint32_t count, void* data);
    static int Write(uint32_t address, uint32_t count, const void* data);
    static char Halt();
    static char Go();
    bool NextByte(uint8_t& byte);

    ManualClock& clock_;
    std::vector<uint8_t> script_;
    size_t pos_ = 0;
    bool endless_;
    uint64_t boundMs_;
};

}  // namespace tavrel::fuzz
