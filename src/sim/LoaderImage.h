#pragma once
// The simulated board's own flash loaders: one image per family and route (the J-Link route's
// "_Load1", the UART route's "_Load2"), the bytes the board expects to find in SRAM before it
// lets the loader run. The loader files under src/sim/config are written from these images.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/InterfaceKind.h"

namespace tavrel::sim {

struct LoaderImage {
    uint32_t address = 0;  // SRAM load address
    uint32_t entry = 0;    // where the program counter must be set to start it
    std::vector<uint8_t> bytes;
};

// Nothing for an unknown family.
std::optional<LoaderImage> SimLoaderImage(std::string_view family, InterfaceKind route);

// Intel HEX text of an image: extended linear address records, 16-byte data records, a start
// linear address record with the entry, and the end record; lines end in "\n".
std::string WriteIntelHex(const LoaderImage& image);

// Writes the fourteen loader files (both routes of the seven families) into an existing folder,
// each file replaced whole or not at all.
bool WriteLoaderFiles(const std::string& folder, std::string& error);

}  // namespace tavrel::sim
