#include "links/Mailbox.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "links/LoaderPacket.h"
#include "links/TargetLink.h"
#include "model/LittleEndian.h"
#include "platform/Clock.h"
#include "platform/Interruption.h"

namespace tavrel {

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// digits / 2 bytes in target order: digit pair k goes to byte n - 1 - k.
std::optional<std::vector<uint8_t>> FlagBytes(std::string_view text, int digits) {
    if (digits <= 0 || digits % 2 != 0 || text.size() != static_cast<size_t>(digits)) return std::nullopt;
    const size_t n = text.size() / 2;
    std::vector<uint8_t> bytes(n);
    for (size_t k = 0; k < n; ++k) {
        const int high = DigitValue(text[2 * k]);
        const int low = DigitValue(text[2 * k + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[n - 1 - k] = static_cast<uint8_t>(high << 4 | low);
    }
    return bytes;
}

// The rest of a reply (L bytes after the 3-byte header). Empty optional on a failed read.
std::optional<std::vector<uint8_t>> ReadReplyBody(TargetLink& link, uint32_t address, uint16_t length) {
    std::vector<uint8_t> body(length);
    if (length > 0 && !link.ReadTargetMemory(address, body.data(), length)) return std::nullopt;
    return body;
}

}  // namespace

bool WaitMailboxWord(TargetLink& link, uint32_t address, std::string_view hexText, Clock& clock, uint64_t waitMs) {
    const auto expected = FlagBytes(hexText, 8);
    if (!expected) return false;
    const uint64_t start = clock.NowMs();
    for (;;) {
        if (start + waitMs < clock.NowMs() || InterruptionRequested()) return false;
        uint8_t word[4] = {};
        if (!link.ReadTargetMemory(address, word, sizeof word)) return false;
        if (std::equal(expected->begin(), expected->end(), word)) return true;
        clock.SleepMs(kMailboxPollMs);
    }
}

bool WriteMailboxWord(TargetLink& link, uint32_t address, std::string_view hexText, int digits) {
    const auto bytes = FlagBytes(hexText.substr(0, static_cast<size_t>(digits < 0 ? 0 : digits)), digits);
    if (!bytes) return false;
    return link.WriteTargetMemory(address, bytes->data(), static_cast<uint32_t>(bytes->size()));
}

namespace {

// The handshake's flag writes are not checked: a write that was lost shows as the next wait's
// time-out (or as the loader never answering), which fails the exchange there.
void SetFlag(TargetLink& link, uint32_t address, std::string_view word) {
    static_cast<void>(WriteMailboxWord(link, address, word));
}

}  // namespace

bool WaitLoaderReady(TargetLink& link, std::string_view family, Clock& clock, uint64_t waitMs) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (!profile) return false;
    const MailboxSet& box = profile->mailbox;
    if (!WaitMailboxWord(link, box.replyFlag, mailbox_word::kReplyReady, clock, waitMs)) return false;
    SetFlag(link, box.replyFlag, mailbox_word::kReplyReading);
    uint8_t header[3] = {};
    if (!link.ReadTargetMemory(box.replyData, header, sizeof header)) return false;
    const uint16_t length = GetLe16(header + 1);
    if (length < 4) return false;  // too short to hold its checksum
    const auto body = ReadReplyBody(link, box.replyData + 3, length);
    if (!body) return false;
    if (!IsLoaderReadyPacket(std::span<const uint8_t>(header, 3), *body)) return false;  // the flag is left as it is
    SetFlag(link, box.replyFlag, mailbox_word::kReplyConsumed);
    return true;
}

MailboxChannel::MailboxChannel(TargetLink& link, std::string_view family, Clock& clock, uint64_t waitMs)
    : link_(link), profile_(FindFamilyProfile(family)), clock_(clock), waitMs_(waitMs) {}

// Claims the idle command area, fills it and posts it.
bool MailboxChannel::PostCommand(std::span<const uint8_t> packet) {
    const MailboxSet& box = profile_->mailbox;
    if (!WaitMailboxWord(link_, box.commandFlag, mailbox_word::kCommandIdle, clock_, waitMs_)) return false;
    SetFlag(link_, box.commandFlag, mailbox_word::kCommandClaimed);
    // A packet that did not reach the mailbox is never posted: the loader would act on stale bytes.
    if (!link_.WriteTargetMemory(box.commandData, packet.data(), static_cast<uint32_t>(packet.size()))) return false;
    SetFlag(link_, box.commandFlag, mailbox_word::kCommandPosted);
    return true;
}

MailboxChannel::Outcome MailboxChannel::Exchange(std::span<const uint8_t> packet) {
    const MailboxSet& box = profile_->mailbox;
    if (!PostCommand(packet)) return Outcome::Failed;
    if (!WaitMailboxWord(link_, box.replyFlag, mailbox_word::kReplyReady, clock_, waitMs_)) return Outcome::Failed;
    SetFlag(link_, box.replyFlag, mailbox_word::kReplyReading);
    uint8_t header[3] = {};
    if (!link_.ReadTargetMemory(box.replyData, header, sizeof header)) return Outcome::Failed;
    const uint16_t length = GetLe16(header + 1);
    const auto body = ReadReplyBody(link_, box.replyData + 3, length);
    if (!body) return Outcome::Failed;
    // The reply is consumed before it is judged, so the loader can go on whatever it said.
    SetFlag(link_, box.replyFlag, mailbox_word::kReplyConsumed);

    const LoaderReply reply = DecodeLoaderReply(std::span<const uint8_t>(header, 3), *body);
    switch (reply.kind) {
        case LoaderReplyKind::Done: return Outcome::Done;
        case LoaderReplyKind::Busy: return Outcome::Busy;
        case LoaderReplyKind::Data:
            if (reply.data.size() > reply_.size()) return Outcome::Failed;  // refused: nothing is kept
            std::copy(reply.data.begin(), reply.data.end(), reply_.begin());
            replyLength_ = reply.data.size();
            return Outcome::Done;
        case LoaderReplyKind::Refused:
        case LoaderReplyKind::Damaged: return Outcome::Failed;
    }
    return Outcome::Failed;
}

bool MailboxChannel::Transaction(std::span<const uint8_t> packet) {
    constexpr int kBusyAttempts = 3;
    replyLength_ = 0;
    if (!profile_) return false;
    for (int attempt = 1; attempt <= kBusyAttempts; ++attempt) {
        switch (Exchange(packet)) {
            case Outcome::Done: return true;
            case Outcome::Failed: return false;
            case Outcome::Busy: break;  // the same packet again
        }
    }
    return false;
}

bool MailboxChannel::Post(std::span<const uint8_t> packet) { return profile_ && PostCommand(packet); }

}  // namespace tavrel
