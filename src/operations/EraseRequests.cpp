#include "operations/EraseRequests.h"

#include "links/LoaderPacket.h"

namespace tavrel {

std::vector<EraseRequest> PlanLoaderErase(EraseMode mode, const std::vector<uint32_t>& blocks, uint32_t firstSector,
                                          uint32_t lastSector) {
    std::vector<EraseRequest> requests;
    switch (mode) {
    case EraseMode::All:
        requests.push_back({EraseMode::All, 0, 0});
        break;
    case EraseMode::Blocks:
        for (const auto& [first, last] : BlockRuns(blocks)) requests.push_back({EraseMode::Blocks, first, last});
        break;
    case EraseMode::Sectors:
        for (const auto& [first, last] : SectorPairs(firstSector, lastSector))
            requests.push_back({EraseMode::Sectors, first, last});
        break;
    }
    return requests;
}

uint32_t UartEraseProgressStep(size_t requests) {
    return requests == 0 ? kUartEraseProgress : kUartEraseProgress / static_cast<uint32_t>(requests);
}

}  // namespace tavrel
