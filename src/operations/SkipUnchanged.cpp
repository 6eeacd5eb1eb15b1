#include "operations/SkipUnchanged.h"

#include <algorithm>
#include <map>
#include <set>
#include <span>
#include <vector>

#include "operations/EraseRange.h"

namespace tavrel {
namespace {

constexpr uint32_t kSector = kFlashSectorSize;

// Runs of neighbouring sectors: first and last of each.
std::vector<std::pair<uint32_t, uint32_t>> Runs(const std::set<uint32_t>& sectors) {
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (uint32_t sector : sectors) {
        if (!runs.empty() && runs.back().second + 1 == sector) runs.back().second = sector;
        else runs.emplace_back(sector, sector);
    }
    return runs;
}

bool AllErased(std::span<const uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

}  // namespace

SkipUnchangedResult ProgramChangedSectors(FlashSession& session, const ProgramPlan& plan, uint32_t headerBytes,
                                          OperationHost& host) {
    SkipUnchangedResult result;
    const auto image = plan.Image();
    std::set<uint32_t> covered;
    for (const auto& [offset, bytes] : image)
        for (uint64_t s = offset / kSector; s <= (uint64_t{offset} + bytes.size() - 1) / kSector; ++s)
            covered.insert(static_cast<uint32_t>(s));
    result.sectors = static_cast<uint32_t>(covered.size());
    const uint32_t chunk = std::max<uint32_t>(session.MaxChunk(), 4);
    const uint64_t total = uint64_t{result.sectors} * kSector * 2;
    host.ReportTotal(static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX)));
    uint64_t done = 0;

    // What the flash holds in every covered sector (sector-aligned reads: whole words for DFU).
    std::map<uint32_t, std::vector<uint8_t>> held;
    for (const auto& [first, last] : Runs(covered)) {
        for (uint32_t sector = first; sector <= last; ++sector) {
            std::vector<uint8_t>& bytes = held[sector];
            bytes.resize(kSector);
            for (uint32_t at = 0; at < kSector; at += std::min(chunk, kSector)) {
                const uint32_t length = std::min(std::min(chunk, kSector), kSector - at);
                if (!session.Read(sector * kSector + at, std::span(bytes).subspan(at, length))) return result;
            }
            done += kSector;
            host.ReportProgress(static_cast<uint32_t>(done), "Reading flash...");
        }
    }

    // The flash as the run leaves each covered sector: erased, what the flow keeps, the plan's bytes.
    std::map<uint32_t, std::vector<uint8_t>> wanted;
    std::set<uint32_t> changed;
    for (uint32_t sector : covered) wanted[sector].assign(kSector, 0xFF);
    for (const PlanRange& keep : plan.kept)
        for (uint64_t at = keep.offset; at < uint64_t{keep.offset} + keep.length; ++at)
            if (auto it = wanted.find(static_cast<uint32_t>(at / kSector)); it != wanted.end())
                it->second[at % kSector] = held[it->first][at % kSector];
    bool headerFound = false;
    for (const auto& [offset, bytes] : image) {
        for (uint64_t i = 0; i < bytes.size(); ++i) {
            const uint64_t at = offset + i;
            const uint32_t sector = static_cast<uint32_t>(at / kSector);
            wanted[sector][at % kSector] = bytes[i];
            if (held[sector][at % kSector] == bytes[i]) continue;
            changed.insert(sector);
            if (at < headerBytes && !headerFound) {
                headerFound = true;
                result.headerOffset = static_cast<uint32_t>(at);
            }
        }
    }
    result.unchanged = result.sectors - static_cast<uint32_t>(changed.size());
    // A header that changes is refused before anything is erased.
    if (headerFound) {
        result.outcome = SkipUnchangedResult::Outcome::HeaderChanges;
        return result;
    }

    done = total - uint64_t{changed.size()} * kSector;
    for (const auto& [first, last] : Runs(changed)) {
        if (!session.EraseSectors(first, last)) return result;
        result.erased += last - first + 1;
        if (!session.AnnounceRange(first * kSector, (last + 1) * kSector - 1)) return result;
        for (uint32_t sector = first; sector <= last; ++sector) {
            const std::vector<uint8_t>& bytes = wanted[sector];
            const uint32_t step = std::min(chunk, kSector);
            for (uint32_t at = 0; at < kSector; at += step) {
                const auto part = std::span(bytes).subspan(at, std::min(step, kSector - at));
                // Just erased: a blank chunk is already what the flash holds.
                if (AllErased(part)) continue;
                if (!session.Write(sector * kSector + at, part)) return result;
                ++result.writes;
            }
            done += kSector;
            host.ReportProgress(static_cast<uint32_t>(std::min<uint64_t>(done, UINT32_MAX)), "Download Target Image File");
        }
    }
    result.outcome = SkipUnchangedResult::Outcome::Done;
    return result;
}

}  // namespace tavrel
