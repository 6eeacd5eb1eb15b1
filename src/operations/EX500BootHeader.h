#pragma once
// The 32-byte boot header the KR2E500-group program page writes at flash offset 0 in front of a
// HEX image, the per-family facts it needs (baud divisor, location codes, where segments may lie),
// and the image span with its CRC. Eight little-endian words; the image follows at offset 32.
#include <array>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <span>
#include <string_view>

#include "model/FamilyProfile.h"
#include "model/ImageSegment.h"

namespace tavrel {

inline constexpr size_t kEX500HeaderSize = 32;
inline constexpr uint32_t kEX500ImageOffset = 32;        // flash offset of the image's lowest byte
inline constexpr uint32_t kEX500Magic = 0x544B4E5A;      // "ZNKT"
inline constexpr int kEX500NoCrc = 4;                    // the "CRC:" index that computes nothing

// The header words of one run, at their reset values (a bin run keeps them; only HEX writes them).
struct EX500HeaderWords {
    uint32_t crc = 0;
    uint32_t bootConfigA = 0x1FF;
    uint32_t imageLength = 0;
    uint32_t bootConfigB = 0xBF17;
    uint32_t password = 0xFFFFFFFF;
    uint32_t loadAddress = 0;  // a bin run: its flash start address
    uint32_t entryAddress = 0;
    uint32_t magic = kEX500Magic;
};

std::array<uint8_t, kEX500HeaderSize> EX500HeaderBytes(const EX500HeaderWords& words);

// "Boot Delay : " index 0-4: "20ms" and "40ms" go into BootConfigA, the seconds into BootConfigB.
struct BootDelayCodes {
    uint32_t a = 0;
    uint32_t b = 0;
};
BootDelayCodes BootDelayCodesFor(int delayIndex);

// The row of a KR2E500-group family, or none.
const EX500FamilyRow* FindEX500FamilyRow(std::string_view family);

// 0 for a baud rate of 0.
uint32_t BaudDivisor(const EX500FamilyRow& row, uint32_t baudRate);
uint32_t UartLocationCode(const EX500FamilyRow& row, int uartIndex, int locationIndex);

// Bits 0-7 0xFF, 8 UART index, 9-12 delay code A, 13-16 location code (with the family's bias).
uint32_t BootConfigA(const EX500FamilyRow& row, int uartIndex, uint32_t locationCode, const BootDelayCodes& delay);
// Bits 0-2 CRC index, 3-5 2, 8-10 7, 11-13 7, 14-15 delay code B, 16-31 the complemented divisor.
uint32_t BootConfigB(int crcIndex, const BootDelayCodes& delay, uint32_t divisor);

// Every segment within the family's windows (an empty list passes).
[[nodiscard]] bool SegmentsAllowed(const EX500FamilyRow& row, const SegmentList& sram);

// The address span a HEX image occupies: from the lowest segment start to the highest segment end,
// whatever order the file lists its segments in.
struct EX500HexSpan {
    uint32_t loadAddress = 0;
    uint64_t length = 0;
};
EX500HexSpan HexSpan(const SegmentList& sram);

// Where a segment's data go in flash.
inline uint64_t EX500FlashOffset(const EX500HexSpan& span, const ImageSegment& segment) {
    return kEX500ImageOffset + (uint64_t{segment.startAddress} - span.loadAddress);
}

// The header CRC (CRC index 0-3) over image length, load and entry address (three words) and the
// span, each segment at its place and 0xFF between them. The segments' bytes are read from
// sramImage (packed in list order, positioned anywhere). False when the image holds fewer bytes
// than the segments or two segments overlap (their bytes would be written twice).
[[nodiscard]] bool EX500ImageCrc(int crcIndex, const EX500HeaderWords& words, const SegmentList& sram, std::istream& sramImage,
                   uint32_t& crc);

}  // namespace tavrel
