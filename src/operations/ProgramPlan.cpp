#include "operations/ProgramPlan.h"

#include <algorithm>

#include "operations/ReadChunks.h"

namespace tavrel {

std::map<uint32_t, std::vector<uint8_t>> ProgramPlan::Image() const {
    // The ranges the writes cover, touching ones joined.
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    for (const PlanWrite& write : writes)
        if (!write.bytes.empty()) spans.emplace_back(write.offset, uint64_t{write.offset} + write.bytes.size());
    std::sort(spans.begin(), spans.end());
    std::map<uint32_t, std::vector<uint8_t>> image;
    uint64_t start = 0, end = 0;
    bool open = false;
    auto close = [&] {
        if (open) image[static_cast<uint32_t>(start)].assign(end - start, 0xFF);
    };
    for (const auto& [first, last] : spans) {
        if (open && first <= end) {
            end = std::max(end, last);
            continue;
        }
        close();
        start = first;
        end = last;
        open = true;
    }
    close();
    // The writes in their order, so a later one wins where two overlap.
    for (const PlanWrite& write : writes) {
        if (write.bytes.empty()) continue;
        auto range = std::prev(image.upper_bound(write.offset));
        std::copy(write.bytes.begin(), write.bytes.end(), range->second.begin() + (write.offset - range->first));
    }
    return image;
}

bool PlanRecorder::EraseAll() {
    plan_.erases.push_back({PlanErase::Kind::All, 0, 0});
    return true;
}

bool PlanRecorder::EraseBlocks(uint32_t first, uint32_t last) {
    plan_.erases.push_back({PlanErase::Kind::Blocks, first, last});
    return true;
}

bool PlanRecorder::EraseSectors(uint32_t first, uint32_t last) {
    plan_.erases.push_back({PlanErase::Kind::Sectors, first, last});
    return true;
}

bool PlanRecorder::Write(uint32_t offset, std::span<const uint8_t> data) {
    if (data.size() > maxChunk_) return false;
    plan_.writes.push_back({offset, std::vector<uint8_t>(data.begin(), data.end())});
    return true;
}

bool PlanRecorder::Read(uint32_t offset, std::span<uint8_t> data) {
    if (plan_.writes.empty() && plan_.erases.empty())
        plan_.kept.push_back({offset, static_cast<uint32_t>(data.size())});
    else if (!plan_.writes.empty())
        plan_.readsBack = true;
    std::fill(data.begin(), data.end(), uint8_t{0xFF});
    for (const PlanWrite& write : plan_.writes) {
        const uint64_t from = std::max<uint64_t>(offset, write.offset);
        const uint64_t to = std::min<uint64_t>(uint64_t{offset} + data.size(), uint64_t{write.offset} + write.bytes.size());
        for (uint64_t at = from; at < to; ++at) data[at - offset] = write.bytes[at - write.offset];
    }
    return true;
}

bool PlanRecorder::Finish() {
    plan_.finished = true;
    return true;
}

uint32_t RouteChunk(const std::string& interfaceName) {
    return ReadChunkOf(InterfaceKindOf(interfaceName).value_or(InterfaceKind::Jlink));
}

FlashSessionFactory RecordPlanWith(ProgramPlan& plan) {
    return [&plan](const TargetSelection& selection, const BringUpReport&,
                   const SessionOptions&) -> std::unique_ptr<FlashSession> {
        return std::make_unique<PlanRecorder>(plan, RouteChunk(selection.interfaceName));
    };
}

std::optional<PlanComparison> ComparePlan(FlashSession& session, const ProgramPlan& plan, bool wordReads,
                                          OperationHost& host) {
    const auto image = plan.Image();
    PlanComparison result;
    for (const auto& [offset, bytes] : image) result.compared += bytes.size();
    host.ReportTotal(static_cast<uint32_t>(std::min<uint64_t>(result.compared, UINT32_MAX)));
    const uint32_t chunk = session.MaxChunk();
    uint64_t done = 0;
    std::vector<uint8_t> buffer;
    for (const auto& [offset, bytes] : image) {
        for (uint64_t at = 0; at < bytes.size(); at += chunk) {
            const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(chunk, bytes.size() - at));
            const uint32_t start = static_cast<uint32_t>(offset + at);
            // DFU reads whole words: the read starts on a word and ends on one, inside the
            // flash (whose size is a whole number of words), and only the asked bytes count.
            const uint32_t readStart = wordReads ? start & ~3u : start;
            const uint32_t readEnd = wordReads ? (start + length + 3) & ~3u : start + length;
            buffer.resize(readEnd - readStart);
            for (uint32_t part = 0; part < buffer.size(); part += chunk) {
                const uint32_t partLength = std::min<uint32_t>(chunk, static_cast<uint32_t>(buffer.size()) - part);
                if (!session.Read(readStart + part, std::span(buffer).subspan(part, partLength))) return std::nullopt;
            }
            for (uint32_t i = 0; i < length; ++i) {
                const uint8_t expected = bytes[at + i];
                const uint8_t actual = buffer[start - readStart + i];
                if (expected == actual) continue;
                if (result.differing++ == 0) {
                    result.firstOffset = start + i;
                    result.expected = expected;
                    result.actual = actual;
                }
            }
            done += length;
            host.ReportProgress(static_cast<uint32_t>(std::min<uint64_t>(done, UINT32_MAX)), "Verifying...");
        }
    }
    return result;
}

}  // namespace tavrel
