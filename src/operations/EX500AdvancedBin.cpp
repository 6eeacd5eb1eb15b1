#include "operations/EX500AdvancedBin.h"

#include <algorithm>
#include <filesystem>
#include <system_error>


namespace tavrel {

bool PlanAdvancedBin(UserPrompt& prompt, const std::string& binPath, uint32_t flashSize, AdvancedBinPlan& plan) {
    plan = {};
    const std::string mapPath = AdvancedBinMapPath(binPath);
    std::error_code error;
    if (!std::filesystem::is_regular_file(mapPath, error)) {
        prompt.ShowMessage(kConfigFileLost, MessageIcon::Error);
        return false;
    }
    if (ReadAdvancedBinMap(mapPath, plan.entries) != 0) {
        prompt.ShowMessage(kNotAValidConfigFile, MessageIcon::Error);
        return false;
    }
    uint64_t highestEnd = 0;
    for (const auto& entry : plan.entries) {
        plan.imageLength += entry.dataLength;
        highestEnd = std::max(highestEnd, uint64_t{entry.flashAddress} + entry.dataLength);
    }
    if (plan.imageLength == 0) {
        prompt.ShowMessage(kConfigPlacesNoData, MessageIcon::Error);
        prompt.ShowDetail(mapPath + ": no row places a byte of " + binPath);
        return false;
    }
    if (highestEnd > flashSize) {
        prompt.ShowMessage(kNotAValidAdvancedBin, MessageIcon::Error);
        return false;
    }
    const uint64_t binSize = std::filesystem::file_size(binPath, error);
    if (error) {
        prompt.ShowMessage(kTargetFileLost, MessageIcon::Error);
        return false;
    }
    for (const auto& entry : plan.entries) {
        if (uint64_t{entry.binOffset} + entry.dataLength > binSize) {
            prompt.ShowMessage(kConfigPastBinEnd, MessageIcon::Error);
            return false;
        }
    }
    return true;
}

std::vector<EraseRange> AdvancedBinEraseRanges(const std::vector<AdvancedBinEntry>& entries) {
    std::vector<EraseRange> ranges;
    for (const auto& entry : entries)
        if (entry.dataLength != 0) ranges.push_back(BinEraseRange(entry.flashAddress, entry.dataLength));
    return ranges;
}

}  // namespace tavrel
