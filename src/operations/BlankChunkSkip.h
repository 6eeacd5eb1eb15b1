#pragma once
// A chunk of 0xFF bytes written into flash the same session has just erased changes nothing: the
// erased bytes read 0xFF already. This session in front of a link's own drops such writes and
// answers them as done (so a page's progress counts them), on every route.
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "operations/FlashSession.h"

namespace tavrel {

class BlankChunkSkip final : public FlashSession {
public:
    explicit BlankChunkSkip(std::unique_ptr<FlashSession> link) : link_(std::move(link)) {}

    [[nodiscard]] bool EraseAll() override;
    [[nodiscard]] bool EraseBlocks(uint32_t first, uint32_t last) override;
    [[nodiscard]] bool EraseSectors(uint32_t first, uint32_t last) override;
    [[nodiscard]] bool AnnounceRange(uint32_t first, uint32_t last) override { return link_->AnnounceRange(first, last); }
    [[nodiscard]] bool Write(uint32_t offset, std::span<const uint8_t> data) override;
    [[nodiscard]] bool Read(uint32_t offset, std::span<uint8_t> data) override { return link_->Read(offset, data); }
    [[nodiscard]] bool CheckFlashType(uint16_t code) override { return link_->CheckFlashType(code); }
    [[nodiscard]] bool Finish() override { return link_->Finish(); }
    uint32_t MaxChunk() const override { return link_->MaxChunk(); }
    std::vector<std::string> Details() const override { return link_->Details(); }

    // The bytes not sent because they were blank and erased.
    uint64_t skippedBytes() const { return skipped_; }

private:
    using Span = std::pair<uint64_t, uint64_t>;  // [first, end)
    void Erased(uint64_t first, uint64_t end);

    std::unique_ptr<FlashSession> link_;
    std::vector<Span> erased_;   // erased by this session and not written since
    std::vector<Span> written_;  // written by this session
    uint64_t skipped_ = 0;
};

}  // namespace tavrel
