#pragma once
// A board-data file (--board-data FILE.csv): one row per board, each with the flash offset and the
// bytes or text a production run places there, as comma-separated values:
//
//     key,address,data
//     /dev/ttyUSB0,0x8000,hex:00:1A:2B:3C:4D:5E
//     ,0x8000,text:BOARD-0042
//
// key names the board the row is for (its port, probe serial or USB path); a row without one goes
// to the next board that has no row of its own. address is hexadecimal (0x optional); data is
// hex:BYTES (two digits a byte, ':', '-' or blanks between them allowed) or text:TEXT (its bytes
// as written). Fields may be double-quoted ("" for a quote inside). Blank lines and lines that
// begin with # are skipped, and so is a first line naming the columns.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tavrel::production {

struct BoardDataRow {
    size_t line = 0;       // in the file, from 1
    std::string key;       // empty: any board
    uint32_t address = 0;  // flash offset
    std::vector<uint8_t> bytes;
};

// The most a row may place.
constexpr size_t kBoardDataMaxBytes = 4096;

// The file's rows; false with "FILE, line N: what is wrong" (or why it cannot be read) in error.
bool ReadBoardData(const std::filesystem::path& file, std::vector<BoardDataRow>& rows, std::string& error);

}  // namespace tavrel::production
