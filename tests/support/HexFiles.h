#pragma once
// Building Intel HEX text in tests: single records with their checksums, and whole images.
#include <cstdint>
#include <string>
#include <vector>

namespace tavrel::test {

// One record line (no line end): ":" count address type data checksum, upper-case digits.
std::string HexLine(int type, uint16_t address, const std::vector<uint8_t>& data);
std::string HexExtendedLinear(uint16_t upper);   // type 04
std::string HexStartLinear(uint32_t entry);      // type 05
std::string HexEnd();                            // type 01

// Data records (perLine bytes each) for bytes placed from a 32-bit address, with an extended
// linear address record first and whenever the upper half changes. Lines end in "\n".
std::string HexImage(uint32_t address, const std::vector<uint8_t>& bytes, size_t perLine = 16);

// Bytes 0, 1, 2, ... (modulo 256) offset by seed: easy to tell apart in outputs.
std::vector<uint8_t> PatternBytes(size_t count, uint8_t seed = 0);

}  // namespace tavrel::test
