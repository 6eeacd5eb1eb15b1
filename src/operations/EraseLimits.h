#pragma once
// What the erase page offers a family: the blocks in its list, the highest sector number and the
// note under the sector fields. Families whose flash size comes from the flash type take them
// from its capacity.
#include <cstdint>
#include <string>

#include "model/FamilyProfile.h"

namespace tavrel {

struct EraseLimits {
    uint32_t blockCount = 0;
    uint32_t highestSector = 0;
    std::string note;  // "Note: Sector number is between 0 and ..."

    // Both numbers between 0 and the highest sector, and the last not below the first.
    [[nodiscard]] bool ValidSectors(int64_t first, int64_t last) const;
};

EraseLimits EraseLimitsFor(const FamilyProfile& family, uint32_t capacity);

}  // namespace tavrel
