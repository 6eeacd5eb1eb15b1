#pragma once
// The program pages' data and verify loops: a file handed out in the link's chunks with the flash
// offset each chunk goes to, so memory does not grow with the image.
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <span>

namespace tavrel {

using ChunkAction = std::function<bool(uint32_t offset, std::span<const uint8_t> chunk)>;

// Hands each chunk of a stream to `action` with its flash offset. length: the bytes to take
// (a short stream fails); none: up to the end of the stream.
[[nodiscard]] bool WalkChunks(std::istream& in, uint32_t offset, std::optional<uint64_t> length, uint32_t chunkSize,
                const ChunkAction& action);

}  // namespace tavrel
