#include "operations/EraseRange.h"

#include <algorithm>

#include "operations/BootHeader.h"
#include "operations/HexSplitCheck.h"

namespace tavrel {

uint32_t LastUnit(uint32_t end, uint32_t unitSize) {
    const uint32_t last = end / unitSize;
    return end % unitSize == 0 ? last - 1 : last;
}

namespace {

EraseRange RangeOf(uint32_t start, uint32_t eraseFrom, uint32_t end) {
    EraseRange range;
    range.start = start;
    range.end = end;
    range.firstBlock = eraseFrom / kFlashBlockSize;
    range.firstSector = eraseFrom / kFlashSectorSize;
    if (end > eraseFrom) {
        range.lastBlock = LastUnit(end, kFlashBlockSize);
        range.lastSector = LastUnit(end, kFlashSectorSize);
    } else {
        range.lastBlock = range.firstBlock;
        range.lastSector = range.firstSector;
    }
    return range;
}

}  // namespace

EraseRange HexEraseRange(const SegmentList& flash, uint32_t totalLength) {
    uint32_t end = totalLength + kSramDataOffset;
    if (!flash.empty()) {
        // Every segment is written, so the range reaches the highest end, not the last-listed one.
        end = 0;
        for (const ImageSegment& segment : flash.runs)
            end = std::max(end, segment.startAddress + static_cast<uint32_t>(segment.length) - kFlashWindowBase);
    }
    return RangeOf(kSramDataOffset, 0, end);
}

EraseRange BinEraseRange(uint32_t flashStart, uint32_t fileSize) {
    return RangeOf(flashStart, flashStart, flashStart + fileSize);
}

DfuSectorRange DfuSectors(uint32_t firstSector, uint32_t lastSector) { return {firstSector, lastSector - firstSector}; }

DfuSectorRange DfuImageSectors(uint32_t flashStart, uint32_t imageLength) {
    const EraseRange range = BinEraseRange(flashStart, imageLength);
    return DfuSectors(range.firstSector, range.lastSector);
}

}  // namespace tavrel
