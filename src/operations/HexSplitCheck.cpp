#include "operations/HexSplitCheck.h"

#include <algorithm>
#include <limits>

#include "operations/BootHeader.h"

namespace tavrel {

namespace {

uint64_t End(const ImageSegment& segment) { return uint64_t{segment.startAddress} + static_cast<uint64_t>(segment.length); }

}  // namespace

bool MemoryWindow::Holds(const ImageSegment& segment) const {
    return segment.startAddress >= lower && segment.startAddress < upper && End(segment) < upper;
}

const std::array<MemoryConfig, 3> MemoryConfigTable = {{
    {{0x00100000, 0x00160000}, {0x20000000, 0x20020000}},  // "Normal"
    {{0x00100000, 0x00130000}, {0x20000000, 0x20050000}},  // "Alt cfg 0"
    {{0x00100000, 0x00170000}, {0x20010000, 0x20020000}},  // "Alt cfg 1"
}};

int CheckHexSplit(UserPrompt& prompt, const SegmentList& sram, const SegmentList& flash, int initMemMode,
                  uint64_t sramFileSize, uint64_t flashFileSize, HexSplitSizes& sizes) {
    auto refuse = [&](const char* message) {
        prompt.ShowMessage(message, MessageIcon::Error);
        return -1;
    };

    uint64_t sramTotal = 0;
    for (const ImageSegment& segment : sram.runs) {
        if (segment.startAddress <= kLoaderSramLast && End(segment) >= kLoaderSramFirst) return refuse(kHexFileInvalid);
        sramTotal += static_cast<uint64_t>(segment.length);
    }
    // Descriptors beyond the table would be written over the SRAM data at 0x1000.
    if (sram.runs.size() > kMaxSegmentDescriptors) return refuse(kHexFileInvalid);

    if (initMemMode < 0 || static_cast<size_t>(initMemMode) >= MemoryConfigTable.size()) {
        if (!sram.empty()) return refuse(kHexNotMatchedMemoryConfig);
    } else {
        const MemoryConfig& config = MemoryConfigTable[static_cast<size_t>(initMemMode)];
        for (const ImageSegment& segment : sram.runs)
            if (!config.a.Holds(segment) && !config.b.Holds(segment)) return refuse(kHexNotMatchedMemoryConfig);
    }

    uint64_t totalLength = sramTotal;
    if (!flash.empty()) {
        // The lowest segment, wherever the file lists it, must lie beyond the SRAM data.
        const auto lowest = std::min_element(flash.runs.begin(), flash.runs.end(), [](const auto& x, const auto& y) {
            return x.startAddress < y.startAddress;
        });
        if (lowest->startAddress < kFlashWindowBase ||
            sramTotal + kSramDataOffset >= uint64_t{lowest->startAddress} - kFlashWindowBase)
            return refuse(kHexFileInvalid);
        for (const ImageSegment& segment : flash.runs) totalLength += static_cast<uint64_t>(segment.length);
    }
    if (totalLength > std::numeric_limits<uint32_t>::max()) return refuse(kHexFileInvalid);

    if (sramFileSize + flashFileSize != totalLength) return -2;
    sizes.sramTotal = static_cast<uint32_t>(sramTotal);
    sizes.totalLength = static_cast<uint32_t>(totalLength);
    return 1;
}

}  // namespace tavrel
