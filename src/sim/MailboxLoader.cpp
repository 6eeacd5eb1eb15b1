#include "sim/MailboxLoader.h"

#include <vector>

#include "model/LittleEndian.h"
#include "model/LoaderProtocol.h"
#include "sim/LoaderCore.h"
#include "sim/Sram.h"
#include "sim/Violations.h"

namespace tavrel::sim {

namespace mw = mailbox_flag;
namespace lc = loader_code;
namespace lp = loader_packet;

namespace {

bool Overlaps(uint32_t address, uint64_t count, uint32_t start, uint64_t size) {
    return count > 0 && address < start + size && start < address + count;
}

std::string FlagName(uint32_t word) {
    switch (word) {
        case mw::kCommandIdle: return "0x750A0808 (idle)";
        case mw::kCommandClaimed: return "0x750A0000 (claimed)";
        case mw::kCommandPosted: return "0x750A0202 (posted)";
        case mw::kReplyReady: return "0xFE050202 (reply ready)";
        case mw::kReplyReading: return "0xFE050404 (reading)";
        case mw::kReplyConsumed: return "0xFE050808 (consumed)";
        default: return Hex32(word);
    }
}

}  // namespace

MailboxLoader::MailboxLoader(Sram& sram, MailboxSet mailbox, LoaderCore& core, Violations& violations)
    : sram_(sram), mailbox_(mailbox), core_(core), violations_(violations) {}

void MailboxLoader::Start(bool silent, bool noisy) {
    sram_.SetWord(mailbox_.commandFlag, 0);
    sram_.SetWord(mailbox_.replyFlag, 0);
    if (silent || noisy) {
        state_ = silent ? State::kSilent : State::kNoisy;
        return;
    }
    sram_.Write(mailbox_.replyData, core_.ReadyPacket());
    sram_.SetWord(mailbox_.replyFlag, mw::kReplyReady);
    state_ = State::kReplyPosted;
}

void MailboxLoader::CheckFlagWrite(const char* name, uint32_t flag, uint32_t address, std::span<const uint8_t> data) {
    if (!Overlaps(address, data.size(), flag, 4)) return;
    const bool command = flag == mailbox_.commandFlag;
    if (address != flag || data.size() != 4) {
        violations_.Record(std::string("write of ") + std::to_string(data.size()) + " bytes at " + Hex32(address) +
                               " covering the " + name + " flag",
                           "the flag written alone as one 32-bit word at " + Hex32(flag));
        return;
    }
    const uint32_t current = sram_.Word(flag);
    const uint32_t value = GetLe32(data.data());
    if (state_ == State::kFinished) {
        violations_.Record(std::string(name) + " flag set to " + FlagName(value) + " after the finish command",
                           "nothing more for this loader run");
        return;
    }
    uint32_t allowed = 0;
    std::string expected;
    if (command) {
        if (current == mw::kCommandIdle) allowed = mw::kCommandClaimed;
        else if (current == mw::kCommandClaimed) allowed = mw::kCommandPosted;
        expected = allowed ? FlagName(allowed) : "no write until the loader sets 0x750A0808 (idle)";
    } else {
        if (current == mw::kReplyReady) allowed = mw::kReplyReading;
        else if (current == mw::kReplyReading) allowed = mw::kReplyConsumed;
        expected = allowed ? FlagName(allowed) : "no write until the loader sets 0xFE050202 (reply ready)";
    }
    if (allowed == 0 || value != allowed)
        violations_.Record(std::string(name) + " flag set to " + FlagName(value) + " while it held " + FlagName(current),
                           expected);
}

void MailboxLoader::CheckHostWrite(uint32_t address, std::span<const uint8_t> data) {
    if (state_ == State::kSilent || state_ == State::kNoisy) return;
    CheckFlagWrite("command", mailbox_.commandFlag, address, data);
    CheckFlagWrite("reply", mailbox_.replyFlag, address, data);
    if (Overlaps(address, data.size(), mailbox_.commandData, lp::kMaxCommand)) {
        const uint32_t flag = sram_.Word(mailbox_.commandFlag);
        if (flag != mw::kCommandClaimed || state_ != State::kIdle)
            violations_.Record("command area written at " + Hex32(address) + " while the command flag held " +
                                   FlagName(flag),
                               "the command flag claimed (0x750A0000) first");
    }
    if (Overlaps(address, data.size(), mailbox_.replyData, lp::kMaxReply))
        violations_.Record("host wrote into the reply area at " + Hex32(address), "the reply area left to the loader");
}

void MailboxLoader::CheckHostRead(uint32_t address, uint32_t count) {
    if (state_ == State::kSilent || state_ == State::kNoisy ||
        !Overlaps(address, count, mailbox_.replyData, lp::kMaxReply))
        return;
    const uint32_t flag = sram_.Word(mailbox_.replyFlag);
    if (flag != mw::kReplyReading)
        violations_.Record("reply area read at " + Hex32(address) + " while the reply flag held " + FlagName(flag),
                           "the reply taken (0xFE050404) first");
}

void MailboxLoader::Run() {
    if (state_ == State::kNoisy) {
        // A word that changes at every look and is never the ready word.
        sram_.SetWord(mailbox_.replyFlag, 0xA5000000u | (++noise_ & 0xFFFFFF));
        return;
    }
    if (state_ == State::kReplyPosted && sram_.Word(mailbox_.replyFlag) == mw::kReplyConsumed) {
        sram_.SetWord(mailbox_.commandFlag, mw::kCommandIdle);
        state_ = State::kIdle;
        return;
    }
    if (state_ != State::kIdle || sram_.Word(mailbox_.commandFlag) != mw::kCommandPosted) return;
    uint8_t header[3] = {};
    sram_.Read(mailbox_.commandData, header);
    const uint32_t length = GetLe16(header + 1);
    std::vector<uint8_t> reply;
    if (length < 4 || length + 3 > lp::kMaxCommand) {
        violations_.Record("mailbox: command packet with L = " + std::to_string(length),
                           "L from 4 to " + std::to_string(lp::kMaxCommand - 3));
        reply = core_.StatusReply(lc::kStatusBadPacket);
    } else {
        std::vector<uint8_t> packet(length + 3);
        sram_.Read(mailbox_.commandData, packet);
        auto answer = core_.Serve(packet);
        if (!answer) {
            state_ = State::kFinished;
            return;
        }
        reply = std::move(*answer);
    }
    sram_.Write(mailbox_.replyData, reply);
    sram_.SetWord(mailbox_.replyFlag, mw::kReplyReady);
    state_ = State::kReplyPosted;
}

}  // namespace tavrel::sim
