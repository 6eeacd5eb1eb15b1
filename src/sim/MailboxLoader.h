#pragma once
// The loader's side of the J-Link mailbox. The host reaches it only through memory accesses; the
// loader runs only while the core runs, and the board lets it take one step after each of the
// host's accesses and on every resume, so a whole exchange is deterministic.
//
// Flag words (little-endian in SRAM): command flag 0x750A0808 idle (loader), 0x750A0000 claimed
// (host), 0x750A0202 posted (host); reply flag 0xFE050202 ready (loader), 0xFE050404 reading
// (host), 0xFE050808 consumed (host). The loader sets the command flag idle only once its last
// reply has been consumed, so a host that posts early is caught.
#include <cstdint>
#include <span>

#include "model/Catalogue.h"

namespace tavrel::sim {

class LoaderCore;
class Sram;
class Violations;

namespace mailbox_word {
inline constexpr uint32_t kCommandIdle = 0x750A0808;
inline constexpr uint32_t kCommandClaimed = 0x750A0000;
inline constexpr uint32_t kCommandPosted = 0x750A0202;
inline constexpr uint32_t kReplyReady = 0xFE050202;
inline constexpr uint32_t kReplyReading = 0xFE050404;
inline constexpr uint32_t kReplyConsumed = 0xFE050808;
}  // namespace mailbox_word

class MailboxLoader {
public:
    enum class State { kSilent, kReplyPosted, kIdle, kFinished };

    MailboxLoader(Sram& sram, MailboxSet mailbox, LoaderCore& core, Violations& violations);

    // The loader starts: clears both flags and, unless silent, posts its ready packet.
    void Start(bool silent);
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
};

}  // namespace tavrel::sim
