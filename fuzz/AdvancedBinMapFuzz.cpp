// Arbitrary bytes as an advanced-bin map; an accepted map must be sorted and free of overlaps.
#include <cstdlib>
#include <string_view>
#include <vector>

#include "model/ImageFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    std::vector<AdvancedBinEntry> entries;
    if (ParseAdvancedBinMap(std::string_view(reinterpret_cast<const char*>(data), size), entries) == 0) {
        for (size_t i = 1; i < entries.size(); ++i) {
            const uint64_t previousEnd = uint64_t(entries[i - 1].flashAddress) + entries[i - 1].dataLength;
            if (entries[i].flashAddress < previousEnd) std::abort();
        }
    }
    return 0;
}
