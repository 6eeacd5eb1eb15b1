#pragma once
// The SRAM mailbox through which the programmer talks to the flash loader over J-Link. Host and
// loader hand the command and reply areas to each other with flag words; each flag word is
// written as 8 hexadecimal digits whose first pair is the word's most significant byte.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "links/LoaderCommands.h"
#include "model/FamilyProfile.h"
#include "model/LoaderProtocol.h"

namespace tavrel {

class Clock;
class TargetLink;

// The 8 lower-case hexadecimal digits of a flag word, most significant first.
template <uint32_t Word>
inline constexpr std::array<char, 8> kMailboxWordDigits = [] {
    std::array<char, 8> digits{};
    for (size_t i = 0; i < digits.size(); ++i) digits[i] = "0123456789abcdef"[(Word >> (28 - 4 * i)) & 0xF];
    return digits;
}();

template <uint32_t Word>
inline constexpr std::string_view kMailboxWordText{kMailboxWordDigits<Word>.data(), kMailboxWordDigits<Word>.size()};

// The flag words of model/LoaderProtocol.h as the host writes and awaits them.
namespace mailbox_word {
inline constexpr std::string_view kCommandIdle = kMailboxWordText<mailbox_flag::kCommandIdle>;
inline constexpr std::string_view kCommandClaimed = kMailboxWordText<mailbox_flag::kCommandClaimed>;
inline constexpr std::string_view kCommandPosted = kMailboxWordText<mailbox_flag::kCommandPosted>;
inline constexpr std::string_view kReplyReady = kMailboxWordText<mailbox_flag::kReplyReady>;
inline constexpr std::string_view kReplyReading = kMailboxWordText<mailbox_flag::kReplyReading>;
inline constexpr std::string_view kReplyConsumed = kMailboxWordText<mailbox_flag::kReplyConsumed>;
}  // namespace mailbox_word
static_assert(mailbox_word::kCommandIdle == "750a0808", "lower case, the most significant pair first");

// How long each flag may take to change (a test run may shorten it), and how often it is looked at.
inline constexpr uint64_t kMailboxWaitMs = 90000;
inline constexpr uint32_t kMailboxPollMs = 1;

// True when the word at the address reads as the value; false after waitMs (however often the
// word changes meanwhile) or on a failed read.
[[nodiscard]] bool WaitMailboxWord(TargetLink& link, uint32_t address, std::string_view hexText, Clock& clock,
                     uint64_t waitMs = kMailboxWaitMs);
// Writes digits / 2 bytes, the first digit pair to the highest address.
[[nodiscard]] bool WriteMailboxWord(TargetLink& link, uint32_t address, std::string_view hexText, int digits = 8);

// Takes the loader's unasked ready packet; called once after the loader was started.
[[nodiscard]] bool WaitLoaderReady(TargetLink& link, std::string_view family, Clock& clock, uint64_t waitMs = kMailboxWaitMs);

// The loader commands over the mailbox of a family, reached through the link's memory accesses.
// The channel keeps the payload of the last data reply.
class MailboxChannel final : public LoaderChannel {
public:
    // waitMs: the bound of each flag wait.
    MailboxChannel(TargetLink& link, std::string_view family, Clock& clock, uint64_t waitMs = kMailboxWaitMs);

    // One command exchange, repeated (up to three in all) only while the loader answers busy.
    // True on status "done" or a data reply, whose payload is then ReplyData(). A data reply
    // larger than the buffer is refused.
    [[nodiscard]] bool Transaction(std::span<const uint8_t> packet) override;
    // Posts a packet and awaits no reply (the finish command).
    [[nodiscard]] bool Post(std::span<const uint8_t> packet) override;
    std::span<const uint8_t> ReplyData() const override { return {reply_.data(), replyLength_}; }

private:
    enum class Outcome { Done, Busy, Failed };
    Outcome Exchange(std::span<const uint8_t> packet);
    [[nodiscard]] bool PostCommand(std::span<const uint8_t> packet);

    TargetLink& link_;
    const FamilyProfile* profile_;  // none for an unknown family: every exchange fails
    Clock& clock_;
    uint64_t waitMs_;
    std::array<uint8_t, loader_packet::kMaxData> reply_{};  // also the largest chunk a read asks for
    size_t replyLength_ = 0;
};

}  // namespace tavrel
