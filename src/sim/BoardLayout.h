#pragma once
// Where each family's board has its SRAM: the one fact of the simulated boards that the family
// profile does not hold. The SRAM covers the mailbox, the loader's load address and the framed
// boot ROM's parameter word of the family.
#include <cstdint>
#include <optional>
#include <string_view>

namespace tavrel::sim {

struct BoardLayout {
    std::string_view family;
    uint32_t sramBase;
    uint32_t sramSize;
};

std::optional<BoardLayout> LayoutFor(std::string_view family);

// Where the program counter stands after a reset: the boot ROM.
inline constexpr uint32_t kResetPc = 0x00000200;

}  // namespace tavrel::sim
