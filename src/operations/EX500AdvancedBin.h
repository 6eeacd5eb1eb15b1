#pragma once
// An advanced bin: a bin file and the ".cfg" map beside it that says which byte ranges of the file
// go to which flash offsets. The plan is checked whole before anything is erased or written.
#include <cstdint>
#include <string>
#include <vector>

#include "model/ImageFiles.h"
#include "operations/EraseRange.h"
#include "platform/UserPrompt.h"

namespace tavrel {

inline constexpr const char* kConfigFileLost = "Config file lost";
inline constexpr const char* kNotAValidConfigFile = "It is not a valid config file!";
inline constexpr const char* kNotAValidAdvancedBin = " It is not a valid advanced bin file ! ";
// A map row that would read past the end of the bin file.
inline constexpr const char* kConfigPastBinEnd = "The config file points past the end of the bin file ! ";
// A map without a row of data: programming it would erase the flash for nothing.
inline constexpr const char* kConfigPlacesNoData = "The config file places no data";

struct AdvancedBinPlan {
    std::vector<AdvancedBinEntry> entries;  // sorted by flash offset, none overlapping
    uint64_t imageLength = 0;               // the sum of DATA_LEN
};

// Reads the map beside binPath and checks every row against the bin file and a flash of
// flashSize bytes, and that the rows place at least one byte. False after showing the reason.
[[nodiscard]] bool PlanAdvancedBin(UserPrompt& prompt, const std::string& binPath, uint32_t flashSize, AdvancedBinPlan& plan);

// What each row covers in flash, for an erase by blocks (or sectors): the units from the one
// holding its first byte to the one holding its last. Rows of no bytes erase nothing.
std::vector<EraseRange> AdvancedBinEraseRanges(const std::vector<AdvancedBinEntry>& entries);

}  // namespace tavrel
