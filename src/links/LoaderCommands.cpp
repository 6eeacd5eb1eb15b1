#include "links/LoaderCommands.h"

#include "links/LoaderPacket.h"

namespace tavrel {

bool LoaderFinish(LoaderChannel& channel) { return channel.Post(FinishPacket()); }

bool LoaderEraseAll(LoaderChannel& channel) { return channel.Transaction(EraseAllPacket()); }

bool LoaderEraseBlocks(LoaderChannel& channel, uint32_t firstBlock, uint32_t lastBlock) {
    return channel.Transaction(EraseBlocksPacket(firstBlock, lastBlock));
}

bool LoaderEraseSectors(LoaderChannel& channel, uint32_t firstSector, uint32_t lastSector) {
    return channel.Transaction(EraseSectorsPacket(firstSector, lastSector));
}

bool LoaderProgramRange(LoaderChannel& channel, uint32_t firstOffset, uint32_t lastOffset) {
    return channel.Transaction(ProgramRangePacket(firstOffset, lastOffset));
}

bool LoaderWriteData(LoaderChannel& channel, uint16_t length, std::span<const uint8_t> body) {
    return channel.Transaction(WriteDataPacket(length, body));
}

int LoaderCheckFlashType(LoaderChannel& channel, uint16_t flashType) {
    return channel.Transaction(CheckFlashTypePacket(flashType)) ? 0 : -1;
}

bool LoaderReadData(LoaderChannel& channel, uint32_t count, uint32_t address) {
    if (count > loader_packet::kMaxData) return false;
    // A status reply, or a data reply of another size, would leave the caller comparing or saving
    // bytes the loader never sent.
    return channel.Transaction(ReadDataPacket(count, address)) && channel.ReplyData().size() == count;
}

namespace {

bool EraseEach(LoaderChannel& channel, const std::vector<std::pair<uint32_t, uint32_t>>& ranges,
               bool (*erase)(LoaderChannel&, uint32_t, uint32_t), const EraseStep& step) {
    for (size_t i = 0; i < ranges.size(); ++i) {
        if (!erase(channel, ranges[i].first, ranges[i].second)) return false;
        if (step) step(i + 1, ranges.size());
    }
    return true;
}

}  // namespace

bool LoaderEraseBlockRuns(LoaderChannel& channel, const std::vector<uint32_t>& blocks, const EraseStep& step) {
    if (blocks.empty()) return false;  // nothing erased is not a successful erase
    return EraseEach(channel, BlockRuns(blocks), LoaderEraseBlocks, step);
}

bool LoaderEraseSectorPairs(LoaderChannel& channel, uint32_t firstSector, uint32_t lastSector, const EraseStep& step) {
    return EraseEach(channel, SectorPairs(firstSector, lastSector), LoaderEraseSectors, step);
}

}  // namespace tavrel
