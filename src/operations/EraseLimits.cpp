#include "operations/EraseLimits.h"

namespace tavrel {

bool EraseLimits::ValidSectors(int64_t first, int64_t last) const {
    return first >= 0 && first <= highestSector && last >= 0 && last <= highestSector && last >= first;
}

EraseLimits EraseLimitsFor(const FamilyProfile& family, uint32_t capacity) {
    EraseLimits limits;
    limits.blockCount = family.BlockCount(capacity);
    limits.highestSector = family.HighestSector(capacity);
    limits.note = "Note: Sector number is between 0 and " + std::to_string(limits.highestSector);
    // The fixed-size families' notes are fixed texts, which end in a blank.
    if (family.highestSector != 0) limits.note += ' ';
    return limits;
}

}  // namespace tavrel
