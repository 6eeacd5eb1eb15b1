#include "operations/ChunkWalk.h"

#include <algorithm>
#include <vector>

namespace tavrel {

bool WalkChunks(std::istream& in, uint32_t offset, std::optional<uint64_t> length, uint32_t chunkSize,
                const ChunkAction& action) {
    std::vector<uint8_t> buffer(chunkSize);
    uint64_t left = length.value_or(UINT64_MAX);
    while (left > 0) {
        const auto want = static_cast<std::streamsize>(std::min<uint64_t>(left, chunkSize));
        in.read(reinterpret_cast<char*>(buffer.data()), want);
        const auto got = static_cast<size_t>(in.gcount());
        if (got == 0 && !length) return !in.bad();
        if (got != static_cast<size_t>(want) && (length || in.bad())) return false;
        if (!action(offset, std::span<const uint8_t>(buffer.data(), got))) return false;
        offset += static_cast<uint32_t>(got);
        left -= got;
        if (got != static_cast<size_t>(want)) return true;  // the end of a whole-file walk
    }
    return true;
}

}  // namespace tavrel
