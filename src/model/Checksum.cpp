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

// Eight bytes a step (slicing-by-8): a 16 MiB boot image is checked in a few milliseconds instead
// of tens. Slice k holds the checksum of a byte followed by k zero bytes; slice 0 is the table.
using SliceTables = std::array<CrcTable, 8>;

constexpr SliceTables MakeSlices(uint32_t polynomial) {
    SliceTables slices{};
    slices[0] = MakeTable(polynomial);
    for (size_t k = 1; k < slices.size(); ++k)
        for (size_t i = 0; i < 256; ++i)
            slices[k][i] = (slices[k - 1][i] >> 8) ^ slices[0][slices[k - 1][i] & 0xFF];
    return slices;
}

constexpr SliceTables kSlices[4] = {MakeSlices(0x8408), MakeSlices(0xA001), MakeSlices(0xEDD1),
                                    MakeSlices(0xEDB88320)};

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

const CrcTable& SelectCrcTable(int type) {
    if (type >= 0 && type <= 2) return kSlices[type][0];
    return kSlices[3][0];
}

uint32_t ComputeCrc(const CrcTable& table, const uint8_t* data, size_t length, uint32_t value) {
    const SliceTables* slices = nullptr;
    for (const auto& candidate : kSlices)
        if (&candidate[0] == &table) slices = &candidate;
    if (slices != nullptr) {
        const SliceTables& t = *slices;
        for (; length >= 8; data += 8, length -= 8) {
            const uint32_t low = value ^ Le32(data);
            const uint32_t high = Le32(data + 4);
            value = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
                    t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
        }
    }
    for (size_t i = 0; i < length; ++i) value = (value >> 8) ^ table[(value ^ data[i]) & 0xFF];
    return value;
}

}  // namespace tavrel
