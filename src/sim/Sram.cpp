#include "sim/Sram.h"

#include <algorithm>

namespace tavrel::sim {

bool Sram::Read(uint32_t address, std::span<uint8_t> out) const {
    if (!Contains(address, out.size())) return false;
    std::copy_n(bytes_.begin() + (address - base_), out.size(), out.begin());
    return true;
}

bool Sram::Write(uint32_t address, std::span<const uint8_t> data) {
    if (!Contains(address, data.size())) return false;
    std::copy(data.begin(), data.end(), bytes_.begin() + (address - base_));
    return true;
}

uint32_t Sram::Word(uint32_t address) const {
    uint8_t bytes[4] = {};
    if (!Read(address, bytes)) return 0;
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

void Sram::SetWord(uint32_t address, uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    Write(address, bytes);
}

}  // namespace tavrel::sim
