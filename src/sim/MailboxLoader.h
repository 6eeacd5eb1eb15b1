#pragma once
// The loader's side of the J-Link mailbox. The host reaches it only through memory accesses; the
// loader runs only while the core runs, and the board lets it take one step after each of the
// host's accesses and on every resume, so a whole exchange is deterministic.
//
// The flag words are those of model/LoaderProtocol.h. The loader sets the command flag idle only
// once its last reply has been consumed, so a host that posts early is caught.
#include <cstdint>
#include <span>

#include "model/FamilyProfile.h"

namespace tavrel::sim {

class LoaderCore;
class Sram;
class Violations;

class MailboxLoader {
public:
    enum class State { kSilent, kNoisy, kReplyPosted, kIdle, kFinished };

    MailboxLoader(Sram& sram, MailboxSet mailbox, LoaderCore& core, Violations& violations);

    // The loader starts: clears both flags and, unless silent or noisy, posts its ready packet.
    // A noisy loader writes a new word to its reply flag at every step, never "reply ready".
    void Start(bool silent, bool noisy = false);
    // Called before a host write lands / a host read happens, to check the host keeps the order.
    void CheckHostWrite(uint32_t address, std::span<const uint8_t> data);
    void CheckHostRead(uint32_t address, uint32_t count);
    // One step of the running loader.
    void Run();

    State state() const { return state_; }

private:
    void CheckFlagWrite(const char* name, uint32_t flag, uint32_t address, std::span<const uint8_t> data);

    Sram& sram_;
    MailboxSet mailbox_;
    LoaderCore& core_;
    Violations& violations_;
    State state_ = State::kSilent;
    uint32_t noise_ = 0;
};

}  // namespace tavrel::sim
