#include "sim/SerialLineFaults.h"

#include <algorithm>

namespace tavrel::sim {

std::vector<uint8_t> SerialLineFaults::Outgoing(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> out;
    out.reserve(bytes.size());
    for (uint8_t byte : bytes) {
        const uint64_t index = ++sent_;
        if (std::find(drop_.begin(), drop_.end(), index) != drop_.end()) continue;
        if (std::find(garble_.begin(), garble_.end(), index) != garble_.end()) byte = static_cast<uint8_t>(~byte);
        out.push_back(byte);
    }
    return out;
}

}  // namespace tavrel::sim
