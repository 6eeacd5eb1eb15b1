#pragma once
// What differs between the boards of the seven families besides the catalogue's facts: where
// the SRAM lies (covering the mailbox and the loader), where the simulated loader is loaded, the
// reset type the family is reset with, and the internal flash size.
#include <cstdint>
#include <optional>
#include <string_view>

namespace tavrel::sim {

struct BoardLayout {
    std::string_view family;
    uint32_t sramBase;
    uint32_t sramSize;
    uint32_t loaderAddress;     // the simulated loaders' load address, clear of the mailbox
    int resetType;              // JLINKARM_SetResetType value the family is reset with
    uint32_t internalFlashSize; // flash size of the families without a flash-type choice
};

std::optional<BoardLayout> LayoutFor(std::string_view family);

// Where the program counter stands after a reset: the boot ROM.
inline constexpr uint32_t kResetPc = 0x00000200;

}  // namespace tavrel::sim
