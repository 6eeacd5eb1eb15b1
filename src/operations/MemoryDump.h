#pragma once
// The read page's display: each block read back becomes lines of four 32-bit words, placed in
// 16-byte aligned rows, and the lines can be saved as a text file.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/UserPrompt.h"

namespace tavrel {

inline constexpr const char* kDumpNoData = "No data";
inline constexpr const char* kDumpCannotOpen = "Can't open save file";

// "0x" + the row address (8 upper-case digits) + ": " + 4 slots, each followed by a blank: a
// little-endian word in 8 upper-case digits, or "********" before the block's first word and
// after its last. A word the block holds only partly shows "**" for its missing bytes.
std::vector<std::string> DumpLines(uint32_t address, std::span<const uint8_t> bytes);

// Writes each line followed by CR LF. False after "No data" for no lines, "Can't open save file"
// when the file cannot be created, or a message naming the file when it cannot be written whole.
[[nodiscard]] bool SaveDumpText(UserPrompt& prompt, const std::vector<std::string>& lines, const std::string& path);

}  // namespace tavrel
