#include "operations/BlankChunkSkip.h"

#include <algorithm>

namespace tavrel {
namespace {

constexpr uint64_t kSectorBytes = 0x1000;
constexpr uint64_t kBlockBytes = 0x10000;

}  // namespace

void BlankChunkSkip::Erased(uint64_t first, uint64_t end) {
    erased_.emplace_back(first, end);
    // What was written there is erased again.
    std::erase_if(written_, [&](const Span& span) { return span.first >= first && span.second <= end; });
}

bool BlankChunkSkip::EraseAll() {
    if (!link_->EraseAll()) return false;
    erased_.clear();
    written_.clear();
    Erased(0, UINT64_MAX);
    return true;
}

bool BlankChunkSkip::EraseBlocks(uint32_t first, uint32_t last) {
    if (!link_->EraseBlocks(first, last)) return false;
    if (last >= first) Erased(first * kBlockBytes, (uint64_t{last} + 1) * kBlockBytes);
    return true;
}

bool BlankChunkSkip::EraseSectors(uint32_t first, uint32_t last) {
    if (!link_->EraseSectors(first, last)) return false;
    if (last >= first) Erased(first * kSectorBytes, (uint64_t{last} + 1) * kSectorBytes);
    return true;
}

bool BlankChunkSkip::Write(uint32_t offset, std::span<const uint8_t> data) {
    const uint64_t end = uint64_t{offset} + data.size();
    const bool blank = !data.empty() && data.size() <= link_->MaxChunk() &&
                       std::all_of(data.begin(), data.end(), [](uint8_t byte) { return byte == 0xFF; });
    const bool erased = std::any_of(erased_.begin(), erased_.end(),
                                    [&](const Span& span) { return span.first <= offset && end <= span.second; });
    const bool untouched = std::none_of(written_.begin(), written_.end(),
                                        [&](const Span& span) { return span.first < end && offset < span.second; });
    if (blank && erased && untouched) {
        skipped_ += data.size();
        return true;
    }
    if (!link_->Write(offset, data)) return false;
    // Runs of writes one after the other stay one span.
    if (!written_.empty() && written_.back().second == offset) written_.back().second = end;
    else written_.emplace_back(offset, end);
    return true;
}

}  // namespace tavrel
