#include "HexFiles.h"

#include <algorithm>
#include <cstdio>

namespace tavrel::test {

std::string HexLine(int type, uint16_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                                  static_cast<uint8_t>(address), static_cast<uint8_t>(type)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    bytes.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
    std::string line = ":";
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        line += pair;
    }
    return line;
}

std::string HexExtendedLinear(uint16_t upper) {
    return HexLine(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}

std::string HexStartLinear(uint32_t entry) {
    return HexLine(5, 0, {static_cast<uint8_t>(entry >> 24), static_cast<uint8_t>(entry >> 16),
                          static_cast<uint8_t>(entry >> 8), static_cast<uint8_t>(entry)});
}

std::string HexEnd() { return HexLine(1, 0, {}); }

std::string HexImage(uint32_t address, const std::vector<uint8_t>& bytes, size_t perLine) {
    std::string text;
    bool first = true;
    uint32_t upper = 0;
    for (size_t offset = 0; offset < bytes.size();) {
        const uint32_t at = address + static_cast<uint32_t>(offset);
        if (first || (at >> 16) != upper) {
            upper = at >> 16;
            text += HexExtendedLinear(static_cast<uint16_t>(upper)) + "\n";
            first = false;
        }
        // A record never crosses a 64 KiB boundary.
        size_t count = std::min(perLine, bytes.size() - offset);
        count = std::min<size_t>(count, 0x10000 - (at & 0xFFFF));
        std::vector<uint8_t> chunk(bytes.begin() + static_cast<long>(offset),
                                   bytes.begin() + static_cast<long>(offset + count));
        text += HexLine(0, static_cast<uint16_t>(at & 0xFFFF), chunk) + "\n";
        offset += count;
    }
    return text;
}

std::vector<uint8_t> PatternBytes(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i + seed);
    return bytes;
}

}  // namespace tavrel::test
