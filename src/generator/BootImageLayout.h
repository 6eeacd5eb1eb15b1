#pragma once
// The pieces of a KR2H70X boot image: security preamble, boot header, segment header and tag.
// Every multi-byte value in the file is little-endian.
//
// Layout A (binary image):  preamble 570 | boot header 80 | segment header 48 | payload N |
//                           payload CRC 4 | tag 16                    (N: input rounded up to 16)
// Layout B (flash image):   preamble 570 (zero) | boot header | segment header | SRAM part S |
//                           CRC 4 (S > 0 only) | 16 x 0xFF | 0xFF up to the first flash byte |
//                           flash content at (address - 0x1F000000), gaps filled with 0xFF
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "model/LittleEndian.h"

namespace tavrel::generator {

inline constexpr uint32_t kFlashBase = 0x1F000000;  // flash (execute-in-place) window
inline constexpr uint32_t kFlashEnd = 0x1FFFFFFF;

inline constexpr size_t kPublicKeySize = 294;  // SubjectPublicKeyInfo DER of a 2048-bit RSA key
inline constexpr size_t kSignatureSize = 256;
inline constexpr size_t kNonceSize = 12;
inline constexpr size_t kTagSize = 16;
inline constexpr size_t kPreambleSize = 570;
inline constexpr size_t kBootHeaderSize = 80;
inline constexpr size_t kSegmentHeaderSize = 48;
inline constexpr size_t kHeadersSize = kBootHeaderSize + kSegmentHeaderSize;  // 128
inline constexpr size_t kPayloadOffset = kPreambleSize + kHeadersSize;         // 698
// The secured span (headers, payload, payload CRC) is this much longer than the payload.
inline constexpr size_t kSecuredOverhead = kHeadersSize + 4;  // 132
inline constexpr size_t kLayoutAOverhead = kPayloadOffset + 4 + kTagSize;  // 718

inline constexpr uint32_t kCipherWord = 0x00000300;
inline constexpr uint32_t kBootMagic = 0x544B4E5A;  // "ZNKT"
inline constexpr uint32_t kUncomputedCrc = 0x5A5A5A5A;

// CRC-16/KERMIT (checksum type 0), the only checksum in a boot image, kept in a full word.
uint32_t ImageCrc(std::span<const uint8_t> data);

// 20 words; the defaults are set by Reset at the start of every generation.
struct HX700BootHeader {
    static constexpr size_t kClockWord = 2, kMagic = 3, kEntryAddress = 4, kCrc = 19;
    std::array<uint32_t, 20> words{};

    HX700BootHeader() { Reset(); }
    void Reset();
    // Bits 8-9 of the clock word: the index of the Clock entry (0-3).
    void SetClockIndex(int index);
    void SetEntryAddress(uint32_t address) { words[kEntryAddress] = address; }
    uint32_t EntryAddress() const { return words[kEntryAddress]; }
    // CRC of bytes 0-75 into the last word.
    void ComputeCrc();
    std::array<uint8_t, kBootHeaderSize> Bytes() const;
    static HX700BootHeader FromBytes(const uint8_t* bytes);
};

// 12 words.
struct SegmentHeader {
    static constexpr size_t kImageLength = 1, kDestination = 3, kOptionsPresent = 5, kBootOptions = 6,
                            kCrc = 11;
    static constexpr uint32_t kDefaultBootOptions = 0xFFFFFE3E;
    // Bits of the boot options word set from the "Further Features" lists.
    static constexpr int kLocationModeBit = 14, kLedEnableBit = 13, kSramModeBit = 0, kFlashcOffBit = 20;
    std::array<uint32_t, 12> words{};

    SegmentHeader() { Reset(); }
    void Reset();
    void SetImageLength(uint32_t length) { words[kImageLength] = length; }
    void SetDestination(uint32_t address) { words[kDestination] = address; }
    // "Further Features": clears bit 31 of the options-present word and sets the four option bits
    // from the list indices (each 0 or 1); every other bit keeps its default.
    void SetFurtherFeatures(int locationMode, int ledEnable, int sramMode, int flashcOff);
    bool FlashControllerDisabled() const { return (words[kBootOptions] >> kFlashcOffBit) & 1u; }
    uint32_t ImageLength() const { return words[kImageLength]; }
    uint32_t Destination() const { return words[kDestination]; }
    void ComputeCrc();  // CRC of bytes 0-43 into the last word
    std::array<uint8_t, kSegmentHeaderSize> Bytes() const;
    static SegmentHeader FromBytes(const uint8_t* bytes);
};

struct SecurityPreamble {
    std::array<uint8_t, kPublicKeySize> publicKey{};
    std::array<uint8_t, kSignatureSize> signature{};
    uint32_t securedLength = 0;
    std::array<uint8_t, kNonceSize> nonce{};
    uint32_t cipherWord = 0;

    void Reset() { *this = SecurityPreamble{}; }
    std::array<uint8_t, kPreambleSize> Bytes() const;
    static SecurityPreamble FromBytes(const uint8_t* bytes);
};

// The CCM tag when encrypting, else 16 bytes of 0xFF.
struct ImageTag {
    std::array<uint8_t, kTagSize> bytes{};
    ImageTag() { Reset(); }
    void Reset() { bytes.fill(0xFF); }
};

}  // namespace tavrel::generator
