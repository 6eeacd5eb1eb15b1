#include "links/LoaderPacket.h"

#include <algorithm>

#include "model/Checksum.h"

namespace tavrel {

std::vector<uint8_t> BuildLoaderPacket(uint8_t code, uint16_t length, std::span<const uint8_t> body) {
    // The length is the caller's word; the body is cut or zero-padded to L - 4 bytes so the
    // packet is always exactly what its header announces.
    const size_t bodySize = length >= 4 ? length - 4u : 0u;
    std::vector<uint8_t> packet;
    packet.reserve(bodySize + 7);
    packet.push_back(code);
    AppendLe16(packet, length);
    for (size_t i = 0; i < bodySize; ++i) packet.push_back(i < body.size() ? body[i] : 0);
    AppendLe32(packet, ComputeCrc(0, packet));
    return packet;
}

namespace {

std::vector<uint8_t> TwoWordPacket(uint8_t code, uint32_t a, uint32_t b) {
    std::vector<uint8_t> body;
    AppendLe32(body, a);
    AppendLe32(body, b);
    return BuildLoaderPacket(code, 12, body);
}

}  // namespace

std::vector<uint8_t> FinishPacket() { return BuildLoaderPacket(loader_code::kFinish, 4, {}); }
std::vector<uint8_t> EraseAllPacket() { return BuildLoaderPacket(loader_code::kEraseAll, 4, {}); }

std::vector<uint8_t> EraseBlocksPacket(uint32_t firstBlock, uint32_t lastBlock) {
    return TwoWordPacket(loader_code::kEraseBlocks, firstBlock, lastBlock);
}

std::vector<uint8_t> EraseSectorsPacket(uint32_t firstSector, uint32_t lastSector) {
    return TwoWordPacket(loader_code::kEraseSectors, firstSector, lastSector);
}

std::vector<uint8_t> ProgramRangePacket(uint32_t firstOffset, uint32_t lastOffset) {
    return TwoWordPacket(loader_code::kProgramRange, firstOffset, lastOffset);
}

std::vector<uint8_t> WriteDataPacket(uint16_t length, std::span<const uint8_t> body) {
    return BuildLoaderPacket(loader_code::kWriteData, length, body);
}

std::vector<uint8_t> CheckFlashTypePacket(uint16_t flashType) {
    uint8_t body[2];
    PutLe16(body, flashType);
    return BuildLoaderPacket(loader_code::kCheckFlashType, 6, body);
}

std::vector<uint8_t> ReadDataPacket(uint32_t count, uint32_t address) {
    return TwoWordPacket(loader_code::kReadData, count, address);
}

bool LoaderReplyCrcMatches(std::span<const uint8_t> header, std::span<const uint8_t> rest) {
    if (header.size() != 3 || rest.size() < 4) return false;
    std::vector<uint8_t> covered(header.begin(), header.end());
    covered.insert(covered.end(), rest.begin(), rest.end() - 4);
    return ComputeCrc(0, covered) == GetLe32(rest.data() + rest.size() - 4);
}

LoaderReply DecodeLoaderReply(std::span<const uint8_t> header, std::span<const uint8_t> rest) {
    if (!LoaderReplyCrcMatches(header, rest)) return {};
    const std::span<const uint8_t> payload = rest.first(rest.size() - 4);
    if (header[0] == loader_code::kData) return {LoaderReplyKind::Data, payload};
    if (header[0] != loader_code::kStatus || payload.empty()) return {LoaderReplyKind::Refused, {}};
    switch (payload[0]) {
        case loader_code::kStatusDone: return {LoaderReplyKind::Done, {}};
        case loader_code::kStatusBusy: return {LoaderReplyKind::Busy, {}};
        default: return {LoaderReplyKind::Refused, {}};
    }
}

bool IsLoaderReadyPacket(std::span<const uint8_t> header, std::span<const uint8_t> rest) {
    return header.size() == 3 && rest.size() >= 4 && header[0] == loader_code::kReady &&
           GetLe32(rest.data()) == ComputeCrc(0, header);
}

std::vector<std::pair<uint32_t, uint32_t>> BlockRuns(std::vector<uint32_t> blocks) {
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (uint32_t block : blocks) {
        if (!runs.empty() && runs.back().second + 1 == block)
            runs.back().second = block;
        else
            runs.emplace_back(block, block);
    }
    return runs;
}

std::vector<std::pair<uint32_t, uint32_t>> SectorPairs(uint32_t first, uint32_t last) {
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    uint32_t lower = first;
    // Whole pairs while the next upper bound stays below the last sector, then the final pair.
    while (uint64_t{lower} + 20 < last) {
        pairs.emplace_back(lower, lower + 20);
        lower += 20;
    }
    pairs.emplace_back(lower, last);
    return pairs;
}

}  // namespace tavrel
