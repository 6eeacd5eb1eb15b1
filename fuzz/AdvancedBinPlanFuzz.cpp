// An advanced bin and its map on disk, both from the fuzz input (two bytes: the map's length,
// then the map, then the bin), planned against a flash of one of four sizes. An accepted plan
// must be sorted and free of overlaps, read only bytes the bin holds, write only inside the
// flash, add up to its image length, and give erase ranges that cover each row.
//   byte 0: the flash size (bits 0-1: 4 KiB, 64 KiB, 512 KiB, 1 MiB)
#include <cstdlib>
#include <vector>

#include "FuzzSupport.h"
#include "operations/EX500AdvancedBin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    fuzz::InputReader input(std::span(data, size));
    static constexpr uint32_t kFlashSizes[] = {0x1000, 0x10000, 0x80000, 0x100000};
    const uint32_t flashSize = kFlashSizes[input.Byte() & 3];
    const size_t mapLength = input.Byte() | size_t{input.Byte()} << 8;
    const std::span<const uint8_t> map = input.Take(mapLength);
    const std::span<const uint8_t> bin = input.Rest();
    const std::string binPath = fuzz::WriteScratchFile("advanced.bin", bin);
    fuzz::WriteScratchFile("advanced.cfg", map);

    fuzz::SilentPrompt prompt;
    AdvancedBinPlan plan;
    if (!PlanAdvancedBin(prompt, binPath, flashSize, plan)) return 0;
    uint64_t total = 0;
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const AdvancedBinEntry& entry = plan.entries[i];
        const uint64_t end = uint64_t{entry.flashAddress} + entry.dataLength;
        if (uint64_t{entry.binOffset} + entry.dataLength > bin.size() || end > flashSize) std::abort();
        if (i > 0 && entry.flashAddress < uint64_t{plan.entries[i - 1].flashAddress} + plan.entries[i - 1].dataLength)
            std::abort();
        total += entry.dataLength;
    }
    if (total != plan.imageLength) std::abort();
    for (const EraseRange& range : AdvancedBinEraseRanges(plan.entries))
        if (range.start > range.end || range.firstBlock > range.lastBlock || range.firstSector > range.lastSector)
            std::abort();
    return 0;
}
