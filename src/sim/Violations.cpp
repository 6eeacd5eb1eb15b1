#include "sim/Violations.h"

#include <cstdint>
#include <cstdio>

namespace tavrel::sim {

void Violations::Record(const std::string& what, const std::string& expected) {
    // Bounded, so a host stuck in a loop cannot eat the memory; the count stays visible.
    constexpr size_t kMaxLines = 1000;
    if (lines_.size() < kMaxLines) {
        lines_.push_back(what + " (expected " + expected + ")");
    } else if (lines_.size() == kMaxLines) {
        lines_.push_back("further violations were not kept");
    }
}

std::string Violations::Text() const {
    std::string text;
    for (const auto& line : lines_) text += line + "\n";
    return text;
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string Hex8(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
    return text;
}

}  // namespace tavrel::sim
