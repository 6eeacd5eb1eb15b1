#include "sim/Sram.h"

#include <algorithm>

#include "model/LittleEndian.h"

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
    return GetLe32(bytes);
}

void Sram::SetWord(uint32_t address, uint32_t value) {
    uint8_t bytes[4];
    PutLe32(bytes, value);
    Write(address, bytes);
}

}  // namespace tavrel::sim
