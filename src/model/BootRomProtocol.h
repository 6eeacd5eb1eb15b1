#pragma once
// The wire bytes of the chips' serial boot ROMs: what the programmer and a boot ROM (and the
// simulated board that stands in for it) must agree on, kept in one place for both sides.
//
// Request ROM (KR2A600, KR2H70X): the host sends 0x55; the ROM answers four bytes, then its
// state. A ready ROM pulls a boot image with requests (0xA5, count N, ~N, 16 bits each,
// little-endian), each answered 0x53 and N bytes, or 0x5C for a broken request. A request for
// the last count + 1 asks for the last block again; a count of 0 ends the download.
//
// Framed ROM (the KR2E500 group): the ROM announces itself with '#' (or ':'), the host answers,
// the ROM says "OK" and a digit; then the host sends frames with a 12-byte header (frame length
// minus 1, command, flags, word count, password word, address; words little-endian).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tavrel {

namespace request_rom {
inline constexpr uint8_t kHello = 0x55;           // host: handshake
inline constexpr size_t kHelloAnswerBytes = 4;    // ROM: bytes before its state (their values do not matter)
inline constexpr uint8_t kReady = 0xA3;           // ROM: ready; after a password: the password was wrong
inline constexpr uint8_t kLocked = 0xAC;          // ROM: locked; after a password or an erase: unlocked
inline constexpr uint8_t kEraseAll = 0x51;        // host: erase all flash, and the lock with it
inline constexpr uint8_t kPassword = 0x5E;        // host: the password bytes follow
inline constexpr uint8_t kRequest = 0xA5;         // ROM: a request follows
inline constexpr size_t kRequestBytes = 5;        // 0xA5, count N, ~N
inline constexpr uint8_t kAccepted = 0x53;        // host: the request is taken; N bytes follow
inline constexpr uint8_t kRefused = 0x5C;         // host: the request is broken
inline constexpr uint32_t kMaxBlock = 1024;       // the most bytes the host gives for one request
}  // namespace request_rom

// The boot image the request ROM pulls: 16-byte block headers (type, address, length field,
// CRC-16/KERMIT of those twelve bytes), a data block's header followed by its data and the data's
// CRC; the image ends with one jump block.
namespace boot_image {
inline constexpr uint32_t kDataBlock = 1;    // address: where the data goes; length field: data + 4
inline constexpr uint32_t kJumpBlock = 4;    // address: the entry; length field: 0
inline constexpr uint32_t kHeaderBytes = 16;
inline constexpr uint32_t kMaxData = 128;    // data bytes of one block
inline constexpr uint32_t kCrcBytes = 4;

void AppendBlockHeader(std::vector<uint8_t>& out, uint32_t type, uint32_t address, uint32_t lengthField);
}  // namespace boot_image

namespace framed_rom {
inline constexpr uint8_t kAnnounce = '#';          // ROM announces; the host answers the same byte
inline constexpr uint8_t kAnnounceColon = ':';     // ROM announces; the host answers kColonAnswer
inline constexpr uint8_t kColonAnswer[2] = {0x01, 0x00};
inline constexpr uint8_t kOk[2] = {'O', 'K'};       // the ROM's answer, then a digit
inline constexpr uint8_t kAnsweredOne = '1';        // the digit that makes the sync fail

inline constexpr size_t kHeaderBytes = 12;
inline constexpr uint8_t kWrite = 3;
inline constexpr uint8_t kRead = 2;
inline constexpr uint8_t kRun = 5;
// Flags: bit 6 starts set and is inverted after every frame sent.
inline constexpr uint8_t kFirstFlags = 0x40;
inline constexpr uint8_t kSequenceBit = 0x40;
inline constexpr uint32_t kNoPassword = 0xFFFFFFFF;  // the password word until the user gives one
// Answers start with a 4-byte header whose first byte is the answer's length minus 1: 3 for the
// acknowledgement of a write, 3 + n for a read of n bytes.
inline constexpr size_t kAnswerHeaderBytes = 4;
inline constexpr uint8_t kAcknowledged = 3;
inline constexpr size_t kMaxChunk = 112;  // data bytes the host writes with one frame
}  // namespace framed_rom

// A password as the boot ROMs take it: the hexadecimal text read as one big-endian number and
// sent least significant byte first (the first digit pair becomes the last byte). Empty unless
// the text is a non-empty, even number of hexadecimal digits.
std::vector<uint8_t> PasswordBytes(std::string_view hexText);

// The framed ROM's password word: the text (8 hexadecimal digits) read as a hexadecimal number.
std::optional<uint32_t> FramedPasswordWord(std::string_view hexText);

}  // namespace tavrel
