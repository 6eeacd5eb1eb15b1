#pragma once
// The SRAM mailbox through which the programmer talks to the flash loader over J-Link. Host and
// loader hand the command and reply areas to each other with flag words; each flag word is
// written as 8 hexadecimal digits whose first pair is the word's most significant byte.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "links/LoaderCommands.h"

namespace tavrel {

class Clock;
class TargetLink;

namespace mailbox_word {
inline constexpr std::string_view kCommandIdle = "750a0808";     // loader: ready for a command
inline constexpr std::string_view kCommandFilling = "750a0000";  // host: filling the command area
inline constexpr std::string_view kCommandPosted = "750a0202";   // host: command packet posted
inline constexpr std::string_view kReplyReady = "fe050202";      // loader: reply packet ready
inline constexpr std::string_view kReplyReading = "fe050404";    // host: reading the reply
inline constexpr std::string_view kReplyConsumed = "fe050808";   // host: reply consumed
}  // namespace mailbox_word

// How long each flag may take to change, and how often it is looked at.
inline constexpr uint64_t kMailboxWaitMs = 90000;
inline constexpr uint32_t kMailboxPollMs = 1;

// True when the word at the address reads as the value; false after 90 s or on a failed read.
bool WaitMailboxWord(TargetLink& link, uint32_t address, std::string_view hexText, Clock& clock);
// Writes digits / 2 bytes, the first digit pair to the highest address.
bool WriteMailboxWord(TargetLink& link, uint32_t address, std::string_view hexText, int digits = 8);

// Takes the loader's unasked ready packet; called once after the loader was started.
bool WaitLoaderReady(TargetLink& link, std::string_view family, Clock& clock);
// One command exchange, repeated (up to three in all) only while the loader answers busy.
// True on status "done" or a data reply, whose payload is then in the link's reply buffer.
bool LoaderTransaction(TargetLink& link, std::string_view family, std::span<const uint8_t> packet, Clock& clock);
// Posts a packet and awaits no reply (the finish command).
bool PostLoaderPacket(TargetLink& link, std::string_view family, std::span<const uint8_t> packet, Clock& clock);

// The loader commands over the mailbox of a family.
class MailboxChannel final : public LoaderChannel {
public:
    MailboxChannel(TargetLink& link, std::string family, Clock& clock);
    bool Transaction(std::span<const uint8_t> packet) override;
    bool Post(std::span<const uint8_t> packet) override;
    std::span<const uint8_t> ReplyData() const override;

private:
    TargetLink& link_;
    std::string family_;
    Clock& clock_;
};

}  // namespace tavrel
