#include "widgets/HexEntryFilter.h"

namespace tavrel {

bool HexEntryFilter::Passes(uint32_t character) const {
    if (character == kCarriageReturn) return false;
    std::string_view allowed;
    if (base_ == 10) {
        allowed = kDecimalCharacters;
    } else if (base_ == 16) {
        allowed = kHexadecimalCharacters;
    } else {
        return true;
    }
    if (character == kBackspace || character == '.') return true;
    return character < 0x80 && allowed.find(static_cast<char>(character)) != std::string_view::npos;
}

}  // namespace tavrel
