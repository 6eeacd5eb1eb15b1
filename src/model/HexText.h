#pragma once
// Hexadecimal text typed by the user (passwords, keys, nonces, mailbox words) into bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tavrel {

// 0-15 for "0"-"9", "A"-"F", "a"-"f"; 255 for anything else.
uint8_t HexDigitValue(char c);

// Reads text (exactly 2 x count hexadecimal digits) as one big-endian number and stores it least
// significant byte first: the pair at text position 2i goes to buffer[count - 1 - i].
// 0 on success; -1 for a wrong length or a non-digit (buffer may then hold some converted bytes).
int HexTextToBytes(std::string_view text, uint8_t* buffer, size_t count);

}  // namespace tavrel
