#pragma once
// ELF executables, read with libelf: what a GCC, Clang, IAR or Keil link gives.
#include <cstdint>
#include <string>
#include <vector>

#include "model/ImageSource.h"
#include "platform/UserPrompt.h"

namespace tavrel {

// Reads a 32-bit little-endian ARM executable (ET_EXEC) held in file: each loadable segment with
// file content (PT_LOAD, p_filesz > 0) becomes a block at its physical (load) address (the
// virtual one when the file leaves every physical address 0, as objcopy takes it), without
// its .bss tail, in load-address order; the entry address is e_entry. A 64-bit, big-endian,
// non-ARM, relocatable or otherwise non-executable, truncated or damaged file, or one with no
// loadable content, is refused with a message naming path and the reason (false).
bool ReadElfImage(std::vector<uint8_t> file, const std::string& path, LoadableImage& image, UserPrompt& prompt);

}  // namespace tavrel
