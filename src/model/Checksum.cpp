#include "model/Checksum.h"

namespace tavrel {

namespace {

constexpr CrcTable MakeTable(uint32_t polynomial) {
    CrcTable table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t v = i;
        for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? (v >> 1) ^ polynomial : v >> 1;
        table[i] = v;
    }
    return table;
}

constexpr CrcTable kTables[4] = {MakeTable(0x8408), MakeTable(0xA001), MakeTable(0xEDD1), MakeTable(0xEDB88320)};

}  // namespace

const CrcTable& SelectCrcTable(int type) {
    if (type >= 0 && type <= 2) return kTables[type];
    return kTables[3];
}

uint32_t ComputeCrc(const CrcTable& table, const uint8_t* data, size_t length, uint32_t value) {
    for (size_t i = 0; i < length; ++i) value = (value >> 8) ^ table[(value ^ data[i]) & 0xFF];
    return value;
}

}  // namespace tavrel
