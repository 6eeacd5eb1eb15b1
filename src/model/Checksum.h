#pragma once
// The four reflected, table-driven checksums (initial value 0, no final XOR). Type 0 is
// CRC-16/KERMIT and protects every loader packet and boot record.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tavrel {

using CrcTable = std::array<uint32_t, 256>;

// 0: 0x8408 (CRC-16-CCITT), 1: 0xA001 (CRC-16-IBM), 2: 0xEDD1 (CRC-16-T10_DIF),
// anything else: 0xEDB88320 (CRC-32-IEEE). The tables are constant, so nothing is shared and mutated.
const CrcTable& SelectCrcTable(int type);
// value: the checksum of the bytes before these, so that a long input can be fed in pieces.
uint32_t ComputeCrc(const CrcTable& table, const uint8_t* data, size_t length, uint32_t value = 0);
inline uint32_t ComputeCrc(int type, std::span<const uint8_t> data) {
    return ComputeCrc(SelectCrcTable(type), data.data(), data.size());
}

}  // namespace tavrel
