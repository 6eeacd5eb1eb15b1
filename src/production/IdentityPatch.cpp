#include "production/IdentityPatch.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace tavrel::production {
namespace {

class IdentitySession final : public FlashSession {
public:
    using Shared = std::pair<Identity, std::function<void(const std::string&)>>;
    IdentitySession(std::unique_ptr<FlashSession> inner, std::shared_ptr<const Shared> shared)
        : inner_(std::move(inner)), shared_(std::move(shared)), identity_(shared_->first), failed_(shared_->second),
          image_(identity_.bytes.size()) {}

    bool EraseAll() override { return inner_->EraseAll(); }
    bool EraseBlocks(uint32_t first, uint32_t last) override { return inner_->EraseBlocks(first, last); }
    bool EraseSectors(uint32_t first, uint32_t last) override { return inner_->EraseSectors(first, last); }
    bool AnnounceRange(uint32_t first, uint32_t last) override { return inner_->AnnounceRange(first, last); }
    bool CheckFlashType(uint16_t code) override { return inner_->CheckFlashType(code); }
    uint32_t MaxChunk() const override { return inner_->MaxChunk(); }
    std::vector<std::string> Details() const override { return inner_->Details(); }

    bool Write(uint32_t offset, std::span<const uint8_t> data) override {
        std::vector<uint8_t> bytes(data.begin(), data.end());
        ForEachIdentityByte(offset, data.size(), [&](size_t index, size_t at) {
            image_[index] = data[at];
            bytes[at] = identity_.bytes[index];
        });
        return inner_->Write(offset, bytes);
    }

    bool Read(uint32_t offset, std::span<uint8_t> data) override {
        if (!inner_->Read(offset, data)) return false;
        ForEachIdentityByte(offset, data.size(), [&](size_t index, size_t at) {
            // Where the flash holds the identity, the flow expects the image's byte; anything
            // else there must still differ from it.
            if (!image_[index]) return;
            if (data[at] == identity_.bytes[index]) data[at] = *image_[index];
            else if (data[at] == *image_[index]) data[at] = static_cast<uint8_t>(~*image_[index]);
        });
        return true;
    }

    bool Finish() override {
        if (!WriteUncovered() || !ReadBack()) {
            // The run has failed already; the loader is ended all the same.
            static_cast<void>(inner_->Finish());
            return false;
        }
        return inner_->Finish();
    }

private:
    template <typename Each>
    void ForEachIdentityByte(uint32_t offset, size_t length, Each each) {
        const uint64_t start = std::max<uint64_t>(offset, identity_.address);
        const uint64_t end = std::min<uint64_t>(uint64_t{offset} + length, uint64_t{identity_.address} + identity_.bytes.size());
        for (uint64_t at = start; at < end; ++at) each(static_cast<size_t>(at - identity_.address), static_cast<size_t>(at - offset));
    }

    // The identity's bytes no write of the image covered lie in erased flash: written now, one
    // run of them at a time.
    bool WriteUncovered() {
        const size_t count = identity_.bytes.size();
        for (size_t i = 0; i < count;) {
            if (image_[i]) {
                ++i;
                continue;
            }
            size_t end = i;
            while (end < count && !image_[end] && end - i < inner_->MaxChunk()) ++end;
            const uint32_t at = identity_.address + static_cast<uint32_t>(i);
            const std::span<const uint8_t> part(identity_.bytes.data() + i, end - i);
            if (!inner_->AnnounceRange(at, at + static_cast<uint32_t>(part.size()) - 1) || !inner_->Write(at, part)) {
                Fail("the identity could not be written");
                return false;
            }
            i = end;
        }
        return true;
    }

    bool ReadBack() {
        std::vector<uint8_t> held(identity_.bytes.size());
        for (size_t i = 0; i < held.size(); i += inner_->MaxChunk()) {
            const size_t length = std::min<size_t>(inner_->MaxChunk(), held.size() - i);
            if (!inner_->Read(identity_.address + static_cast<uint32_t>(i), std::span(held).subspan(i, length))) {
                Fail("the identity could not be read back");
                return false;
            }
        }
        if (held != identity_.bytes) {
            Fail("the flash does not hold the identity " + identity_.text + " after writing it");
            return false;
        }
        return true;
    }

    void Fail(const std::string& what) {
        char where[32];
        std::snprintf(where, sizeof where, " at 0x%X", identity_.address);
        if (failed_) failed_(what + where);
    }

    std::unique_ptr<FlashSession> inner_;
    std::shared_ptr<const Shared> shared_;
    const Identity& identity_;
    const std::function<void(const std::string&)>& failed_;
    std::vector<std::optional<uint8_t>> image_;  // the image's byte at each identity byte, once written
};

}  // namespace

FlashSessionFactory PatchIdentity(FlashSessionFactory open, Identity identity,
                                  std::function<void(const std::string& reason)> failed) {
    auto shared = std::make_shared<std::pair<Identity, std::function<void(const std::string&)>>>(std::move(identity),
                                                                                                   std::move(failed));
    return [open = std::move(open), shared](const TargetSelection& selection, const BringUpReport& report,
                                            const SessionOptions& options) -> std::unique_ptr<FlashSession> {
        auto inner = open(selection, report, options);
        if (!inner) return nullptr;
        return std::make_unique<IdentitySession>(std::move(inner), shared);
    };
}

}  // namespace tavrel::production
