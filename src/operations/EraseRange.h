#pragma once
// What a program run erases before it writes: the end offset E of the image in flash, and the
// 64 KiB blocks and 4 KiB sectors from the first to the one holding byte E - 1.
#include <cstdint>

#include "model/ImageSegment.h"

namespace tavrel {

inline constexpr uint32_t kFlashBlockSize = 0x10000;
inline constexpr uint32_t kFlashSectorSize = 0x1000;

struct EraseRange {
    uint32_t start = 0;  // S: where the data writes begin
    uint32_t end = 0;    // E: one past the last byte written
    uint32_t firstBlock = 0;
    uint32_t lastBlock = 0;
    uint32_t firstSector = 0;
    uint32_t lastSector = 0;

    // The range announced before the data: (S, E - 1).
    uint32_t LastOffset() const { return end - 1; }
    // A bin file of no bytes: nothing to erase or write; the other fields mean nothing then.
    [[nodiscard]] bool Empty() const { return end == start; }
};

// The unit holding byte end - 1: end / unit, minus 1 when end is a multiple of unit. end > 0.
uint32_t LastUnit(uint32_t end, uint32_t unitSize);

// A HEX image: E is the highest end of a flash segment (address + length - 0x1F000000) when there
// are flash segments, whatever order the file lists them in; otherwise totalLength + 0x1000 (the
// header and the SRAM data). S is 0x1000; erasing starts at block and sector 0 (the header).
EraseRange HexEraseRange(const SegmentList& flash, uint32_t totalLength);

// A bin image written unchanged at flashStart: E = flashStart + fileSize, erasing from the block and
// sector that hold flashStart. flashStart + fileSize must fit 32 bits (callers check it against
// the flash size first).
EraseRange BinEraseRange(uint32_t flashStart, uint32_t fileSize);

// The DFU route's sector erase: the first sector and how many follow it (the difference last -
// first that DfuEraseRange takes).
struct DfuSectorRange {
    uint32_t firstSector = 0;
    uint32_t count = 0;
};
// Sectors first..last as chosen on the erase page (last >= first).
DfuSectorRange DfuSectors(uint32_t firstSector, uint32_t lastSector);
// The sectors a KR2H70X bin image of imageLength bytes (> 0) at flashStart covers.
DfuSectorRange DfuImageSectors(uint32_t flashStart, uint32_t imageLength);

}  // namespace tavrel
