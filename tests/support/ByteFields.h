#pragma once
// Words read out of a file's or a reply's bytes in tests; a read past the end throws instead of
// reading beyond the buffer.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "model/LittleEndian.h"

namespace tavrel::test {

inline uint32_t Le32At(const std::vector<uint8_t>& bytes, size_t at) {
    if (at + 4 > bytes.size()) throw std::out_of_range("Le32At past the end");
    return GetLe32(bytes.data() + at);
}

}  // namespace tavrel::test
