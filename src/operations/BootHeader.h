#pragma once
// The KR2A600 boot header the program page writes in front of a HEX image: a 16-byte
// SecurityBlock at flash offset 0, then one 32-byte SegmentDescriptor per SRAM segment, whose
// data follow from flash offset 0x1000. Every word little-endian.
#include <array>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <vector>

#include "model/ImageSegment.h"

namespace tavrel {

inline constexpr uint32_t kSramDataOffset = 0x1000;  // flash offset of the first SRAM segment's data
inline constexpr size_t kSecurityBlockSize = 16;
inline constexpr size_t kSegmentDescriptorSize = 32;
// The descriptors must end before the SRAM data begin: 127 of them end at 16 + 32 x 127 = 0xFF0.
inline constexpr size_t kMaxSegmentDescriptors = (kSramDataOffset - kSecurityBlockSize) / kSegmentDescriptorSize;

inline constexpr int kNoCrc = 4;              // the "CRC Mode" index that computes nothing
inline constexpr int kSecureMode = 2;         // the request's security mode with a password
inline constexpr int kNoSecurityMode = 3;     // the request's security mode without one
inline constexpr uint32_t kSecureWord = 0x00010204;

// The choices of the page that go into the header, as list indexes.
struct BootOptions {
    int crcMode = kNoCrc;
    int qspiMode = 0;
    int initMemMode = 0;
    int finalMemMode = 0;
    int clockSource = 3;
    int securityMode = kNoSecurityMode;
    uint32_t password = 0;  // Secure only
};

// The twelve header words W0-W11 of one run, at their reset values.
struct BootHeaderWords {
    enum Index : size_t {
        kLength = 1,    // the total image length between preparation and header building
        kDataOffset = 2,
        kEntry = 4,
        kMode = 6,
        kSecurity = 8,
        kPassword = 9,
        kClock = 10,
    };
    std::array<uint32_t, 12> w = {0,          0,          kSramDataOffset, 0,          0,          0x7FFFFFFF,
                                  0xFFFFFE00, 0xFFFFFFFF, 0xFFFFFFFF,      0xFFFFFFFF, 0xFFFFFF00, 0xFFFFFFFF};
};

// Bits 0-2 init memory mode, 3-5 final memory mode, 6-8 QSPI mode, 9-11 CRC mode, the rest ones.
uint32_t ModeWord(int crcMode, int qspiMode, int initMemMode, int finalMemMode);
// Bits 8-9 the clock source, bits 0-7 zero, the rest ones.
uint32_t ClockWord(int clockSource);
// The CRC mode a ModeWord holds.
[[nodiscard]] int CrcModeOf(uint32_t modeWord);

// The words of a HEX image's header: ModeWord, ClockWord and the security words from the choices.
// W1 (total length) and W4 (entry address) come from the image and are set by the caller.
BootHeaderWords HexHeaderWords(const BootOptions& options);
// A bin image gets no header; W2 carries its flash start address.
BootHeaderWords BinHeaderWords(uint32_t flashStart);

// W8 (security), W9 (password), W10 (ClockWord), W11.
std::array<uint8_t, kSecurityBlockSize> SecurityBlock(const BootHeaderWords& words);

// A descriptor from W0-W7 with the segment's fields; word 0 (the CRC) as in W0.
// segmentNumber: 1, 2, ... and 0xFFFF for the last segment.
std::array<uint8_t, kSegmentDescriptorSize> SegmentDescriptor(const BootHeaderWords& words, const ImageSegment& segment,
                                                             uint32_t dataOffset, uint16_t segmentNumber);

// Flash offset of descriptor k (0, 1, ...).
constexpr uint32_t SegmentDescriptorOffset(size_t k) {
    return static_cast<uint32_t>(kSecurityBlockSize + kSegmentDescriptorSize * k);
}

// The whole header of a HEX image, in the order it is written.
struct BootHeader {
    std::array<uint8_t, kSecurityBlockSize> securityBlock{};
    std::vector<std::array<uint8_t, kSegmentDescriptorSize>> descriptors;  // descriptor k at SegmentDescriptorOffset(k)
};

// Builds the header for the SRAM segments of a HEX image. An image without SRAM data gets one
// descriptor of length 0 numbered 0xFFFF. With a CRC mode 0-3 each descriptor's word 0 is the
// CRC of its bytes 4-31 followed by the segment's data, read in pieces from sramImage where the
// previous segment's data ended (sramImage: the SRAM image file, positioned at its start).
// False when the image holds fewer bytes than the segments, or more segments than the
// descriptor table holds below 0x1000.
[[nodiscard]] bool BuildBootHeader(const BootHeaderWords& words, const SegmentList& sram, std::istream& sramImage, BootHeader& header);

}  // namespace tavrel
