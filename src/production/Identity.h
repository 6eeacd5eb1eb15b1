#pragma once
// A board's identity: the bytes a production run places at one flash offset of that board
// (a serial number from a counter, or a row of a board-data file), in place of the image's
// bytes there or of erased flash.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavrel::production {

struct Identity {
    uint32_t address = 0;        // flash offset
    std::vector<uint8_t> bytes;  // what the flash holds there afterwards
    std::string text;            // for people and the record: the number or the row's value
};

// How a serial number becomes bytes: little- or big-endian words, or its decimal digits as
// text of a fixed width (ascii:N) or its hexadecimal digits (hex:N, upper case), zero-padded.
struct SerialFormat {
    enum class Kind { U32LE, U32BE, U64LE, Ascii, Hex };
    Kind kind = Kind::U32LE;
    uint32_t width = 4;  // bytes on the flash
};

// "u32le", "u32be", "u64le", "ascii:N" or "hex:N" (N from 1 to 64); none otherwise.
std::optional<SerialFormat> ParseSerialFormat(const std::string& text);

// The bytes of `number` in `format`; none when it does not fit (a u32 past 4294967295, more
// digits than the width).
std::optional<std::vector<uint8_t>> EncodeSerial(uint64_t number, const SerialFormat& format);

// "FIRST[:STEP]": decimal counts, or hexadecimal with 0x; STEP at least 1 (default 1).
struct SerialCounter {
    uint64_t first = 0;
    uint64_t step = 1;
};
std::optional<SerialCounter> ParseSerialCounter(const std::string& text);

// A count of the command line: decimal, or hexadecimal with 0x; no sign, no trailing text.
std::optional<uint64_t> ParseCount(const std::string& text);

// The identity's bytes as a hexadecimal string (two digits a byte), and back.
std::string HexOf(const std::vector<uint8_t>& bytes);
std::optional<std::vector<uint8_t>> BytesOfHex(const std::string& text);

// Where an identity may not go in a program run: it must lie inside a range the run erases and
// outside the boot header. Empty when it may; otherwise why not.
struct FlashRange {
    uint64_t start = 0;
    uint64_t end = 0;  // one past the last byte
};
std::string CheckIdentityPlace(const Identity& identity, const std::vector<FlashRange>& erased,
                               const std::optional<FlashRange>& bootHeader);

}  // namespace tavrel::production
