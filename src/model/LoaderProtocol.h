#pragma once
// The wire words of the flash loader: what the programmer and the loader (and the simulated board
// that stands in for it) must agree on, kept in one place for both sides.
//
// Packets, the same on the J-Link mailbox and on the serial line: code (1 byte), length L (16 bits,
// little-endian, the bytes after this header including the CRC), body, and CRC-16/KERMIT of
// header and body as a 32-bit little-endian word.
#include <cstdint>

namespace tavrel {

namespace loader_code {
// Commands (host to loader).
inline constexpr uint8_t kFinish = 0x08;
inline constexpr uint8_t kEraseAll = 0x11;
inline constexpr uint8_t kEraseBlocks = 0x12;
inline constexpr uint8_t kEraseSectors = 0x14;
inline constexpr uint8_t kProgramRange = 0x37;
inline constexpr uint8_t kWriteData = 0x50;
inline constexpr uint8_t kCheckFlashType = 0x53;
inline constexpr uint8_t kReadData = 0x5F;
// Serial line only, a lone byte: the host asks the loader of KR2A600 and KR2H70X for its ready packet.
inline constexpr uint8_t kAskReady = 0x55;
// Replies (loader to host).
inline constexpr uint8_t kReady = 0xB2;
inline constexpr uint8_t kStatus = 0xB8;
inline constexpr uint8_t kData = 0x95;

// The first body byte of a status reply.
inline constexpr uint8_t kStatusDone = 1;
inline constexpr uint8_t kStatusBusy = 2;  // the host repeats the whole exchange
inline constexpr uint8_t kStatusFailed = 3;
inline constexpr uint8_t kStatusBadPacket = 4;
}  // namespace loader_code

namespace loader_packet {
inline constexpr uint32_t kMaxData = 8192;              // data bytes of one write or read
inline constexpr uint32_t kMaxCommand = kMaxData + 11;  // a write packet: header, offset, data, CRC
inline constexpr uint32_t kMaxReply = kMaxData + 7;     // a data reply
}  // namespace loader_packet

// The mailbox flag words, little-endian 32-bit words in SRAM. The command flag says who holds the
// command area, the reply flag who holds the reply area.
namespace mailbox_flag {
inline constexpr uint32_t kCommandIdle = 0x750A0808;     // loader: ready for a command
inline constexpr uint32_t kCommandClaimed = 0x750A0000;  // host: filling the command area
inline constexpr uint32_t kCommandPosted = 0x750A0202;   // host: command packet posted
inline constexpr uint32_t kReplyReady = 0xFE050202;      // loader: reply packet ready
inline constexpr uint32_t kReplyReading = 0xFE050404;    // host: reading the reply
inline constexpr uint32_t kReplyConsumed = 0xFE050808;   // host: reply consumed
}  // namespace mailbox_flag

}  // namespace tavrel
