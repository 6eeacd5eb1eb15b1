#include "ScriptedProbe.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include "FuzzSupport.h"
#include "model/LittleEndian.h"
#include "model/LoaderProtocol.h"

#ifndef TAVREL_FUZZ_PROBE_STUB
#error "TAVREL_FUZZ_PROBE_STUB names the stub library (fuzz/CMakeLists.txt)"
#endif

namespace tavrel::fuzz {

namespace {

ScriptedProbe* current = nullptr;

constexpr std::array<uint32_t, 6> kFlagWords = {
    mailbox_flag::kCommandIdle, mailbox_flag::kCommandClaimed, mailbox_flag::kCommandPosted,
    mailbox_flag::kReplyReady,  mailbox_flag::kReplyReading,   mailbox_flag::kReplyConsumed};

}  // namespace

ScriptedProbe::ScriptedProbe(JLinkApi& api, ManualClock& clock, std::span<const uint8_t> script, bool endless,
                             uint64_t boundMs)
    : clock_(clock), script_(script.begin(), script.end()), endless_(endless), boundMs_(boundMs) {
    if (current) std::abort();
    if (endless_ && script_.empty()) script_.push_back(0);
    api.UseLibraryFile(TAVREL_FUZZ_PROBE_STUB, "the fuzz target");
    if (!api.Load()) std::abort();
    api.ReadMem = &ScriptedProbe::Read;
    api.WriteMem = &ScriptedProbe::Write;
    api.Halt = &ScriptedProbe::Halt;
    api.Go = &ScriptedProbe::Go;
    current = this;
}

ScriptedProbe::~ScriptedProbe() { current = nullptr; }

bool ScriptedProbe::NextByte(uint8_t& byte) {
    if (pos_ == script_.size()) {
        if (!endless_) return false;
        pos_ = 0;
    }
    byte = script_[pos_++];
    return true;
}

int ScriptedProbe::Read(uint32_t, uint32_t count, void* data) {
    ScriptedProbe& probe = *current;
    if (probe.endless_) probe.clock_.Advance(1);
    CheckBound("J-Link mailbox", probe.clock_.NowMs(), probe.boundMs_);
    uint8_t control = 0;
    if (!probe.NextByte(control) || control == 0xFF) return -1;
    auto* bytes = static_cast<uint8_t*>(data);
    if (count == 4 && control < 0x60) {
        PutLe32(bytes, kFlagWords[control % kFlagWords.size()]);
        return 0;
    }
    std::memset(bytes, 0, count);
    for (uint32_t i = 0; i < count && probe.NextByte(bytes[i]); ++i) {
    }
    return 0;
}

int ScriptedProbe::Write(uint32_t, uint32_t count, const void*) {
    if (current->endless_) current->clock_.Advance(1);
    CheckBound("J-Link mailbox", current->clock_.NowMs(), current->boundMs_);
    return static_cast<int>(count);
}

char ScriptedProbe::Halt() { return 0; }
char ScriptedProbe::Go() { return 0; }

}  // namespace tavrel::fuzz
