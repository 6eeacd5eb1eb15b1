#pragma once
// The packets the programmer exchanges with the running flash loader, the same on the J-Link
// mailbox and on the serial line; their layout and codes are in model/LoaderProtocol.h.
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "model/LittleEndian.h"
#include "model/LoaderProtocol.h"

namespace tavrel {

// A whole packet: L + 3 bytes, the CRC over the first L - 1 bytes stored at offset L - 1.
std::vector<uint8_t> BuildLoaderPacket(uint8_t code, uint16_t length, std::span<const uint8_t> body);

// The command packets, one per command.
std::vector<uint8_t> FinishPacket();
std::vector<uint8_t> EraseAllPacket();
std::vector<uint8_t> EraseBlocksPacket(uint32_t firstBlock, uint32_t lastBlock);
std::vector<uint8_t> EraseSectorsPacket(uint32_t firstSector, uint32_t lastSector);
std::vector<uint8_t> ProgramRangePacket(uint32_t firstOffset, uint32_t lastOffset);
// length: the caller's value, data length + 8; body: 32-bit flash offset followed by the data.
std::vector<uint8_t> WriteDataPacket(uint16_t length, std::span<const uint8_t> body);
std::vector<uint8_t> CheckFlashTypePacket(uint16_t flashType);
std::vector<uint8_t> ReadDataPacket(uint32_t count, uint32_t address);

// True when the last 4 of the L bytes after the header hold the CRC of header and body.
// header: the 3 header bytes; rest: the L bytes that followed.
[[nodiscard]] bool LoaderReplyCrcMatches(std::span<const uint8_t> header, std::span<const uint8_t> rest);

// What a loader reply says. header: its 3 bytes (code, L); rest: the L bytes that followed.
enum class LoaderReplyKind {
    Done,     // status "done"
    Busy,     // status "busy": the host repeats the whole exchange
    Data,     // a data reply; its payload is in data
    Refused,  // any other status, or a reply of another kind
    Damaged,  // too short for its CRC, or the CRC does not match
};
struct LoaderReply {
    LoaderReplyKind kind = LoaderReplyKind::Damaged;
    std::span<const uint8_t> data;  // inside rest
};
LoaderReply DecodeLoaderReply(std::span<const uint8_t> header, std::span<const uint8_t> rest);

// True when header (3 bytes) is the loader's ready code and the first 4 bytes of rest hold its CRC.
[[nodiscard]] bool IsLoaderReadyPacket(std::span<const uint8_t> header, std::span<const uint8_t> rest);

// Selected block numbers in ascending order, consecutive numbers merged: {3,4,5,9} -> (3,5), (9,9).
std::vector<std::pair<uint32_t, uint32_t>> BlockRuns(std::vector<uint32_t> blocks);
// Sectors s..e as pairs of at most 20 sharing their bounds: 0..45 -> (0,20), (20,40), (40,45).
std::vector<std::pair<uint32_t, uint32_t>> SectorPairs(uint32_t first, uint32_t last);

}  // namespace tavrel
