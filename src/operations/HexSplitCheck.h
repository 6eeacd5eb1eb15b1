#pragma once
// The checks a HEX image passes on the KR2A600 program page once it has been split into the SRAM
// image (run from SRAM, written from flash offset 0x1000 behind the boot header) and the flash
// image (the 0x1F000000 execute-in-place window, written at its own flash offsets).
#include <array>
#include <cstdint>

#include "model/ImageSegment.h"
#include "platform/UserPrompt.h"

namespace tavrel {

// The loader's SRAM area: no SRAM segment may touch it.
inline constexpr uint32_t kLoaderSramFirst = 0x20010000;
inline constexpr uint32_t kLoaderSramLast = 0x2001046C;
// Flash offset = address - this, for the execute-in-place segments.
inline constexpr uint32_t kFlashWindowBase = 0x1F000000;

inline constexpr const char* kHexFileInvalid = " Hex file is invalid ! ";
inline constexpr const char* kHexNotMatchedMemoryConfig = "Hex file is not matched with memory configuration";

// A segment lies inside when it starts at or above lower and below upper, and its end (start +
// length) is below upper.
struct MemoryWindow {
    uint32_t lower;
    uint32_t upper;
    [[nodiscard]] bool Holds(const ImageSegment& segment) const;
};

// Where SRAM segments may lie, by the init memory mode: window A or window B.
struct MemoryConfig {
    MemoryWindow a;
    MemoryWindow b;
};
extern const std::array<MemoryConfig, 3> MemoryConfigTable;

struct HexSplitSizes {
    uint32_t sramTotal = 0;    // bytes of SRAM data
    uint32_t totalLength = 0;  // SRAM data and flash segments together (the header's W1)
};

// 1 when the split image can be programmed; -1 after " Hex file is invalid ! " (an SRAM segment
// touches the loader's area, more SRAM segments than descriptors fit below 0x1000, or the lowest
// flash segment does not lie beyond the SRAM data) or "Hex file is not matched with memory
// configuration" (an SRAM segment outside both windows of initMemMode's row); -2 without a
// message when the two files' sizes do not add up to the total length.
[[nodiscard]] int CheckHexSplit(UserPrompt& prompt, const SegmentList& sram, const SegmentList& flash, int initMemMode,
                  uint64_t sramFileSize, uint64_t flashFileSize, HexSplitSizes& sizes);

}  // namespace tavrel
