#pragma once
// A FlashSession over a flash held in memory: records every call, can fail a chosen call and can
// corrupt what it reads back, so a worker's flow is checked without a board.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "operations/FlashSession.h"

namespace tavrel::test {

struct FakeFlashState {
    std::vector<uint8_t> flash = std::vector<uint8_t>(0x100000, 0xFF);
    std::vector<std::string> calls;  // "EraseAll", "EraseBlocks 1 1", "Range 0x1000 0x1fff", "Write 0x0 16", ...
    uint32_t maxChunk = 8192;
    std::string failOn;           // the first call starting with this text fails
    bool corruptReads = false;    // the first byte of every read comes back flipped
    bool finished = false;

    // The calls that start with prefix, in order.
    std::vector<std::string> CallsOf(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& call : calls)
            if (call.rfind(prefix, 0) == 0) found.push_back(call);
        return found;
    }
};

class FakeFlashSession : public FlashSession {
public:
    explicit FakeFlashSession(FakeFlashState& state) : state_(state) {}

    bool EraseAll() override {
        std::fill(state_.flash.begin(), state_.flash.end(), 0xFF);
        return Record("EraseAll");
    }
    bool EraseBlocks(uint32_t first, uint32_t last) override {
        if (!Record("EraseBlocks " + std::to_string(first) + " " + std::to_string(last))) return false;
        Fill(first, last, 0x10000);
        return true;
    }
    bool EraseSectors(uint32_t first, uint32_t last) override {
        if (!Record("EraseSectors " + std::to_string(first) + " " + std::to_string(last))) return false;
        Fill(first, last, 0x1000);
        return true;
    }
    bool AnnounceRange(uint32_t first, uint32_t last) override { return Record("Range " + Hex(first) + " " + Hex(last)); }
    bool Write(uint32_t offset, std::span<const uint8_t> data) override {
        if (!Record("Write " + Hex(offset) + " " + std::to_string(data.size()))) return false;
        if (data.size() > state_.maxChunk || offset + data.size() > state_.flash.size()) return false;
        std::copy(data.begin(), data.end(), state_.flash.begin() + offset);
        return true;
    }
    bool Read(uint32_t offset, std::span<uint8_t> data) override {
        if (!Record("Read " + Hex(offset) + " " + std::to_string(data.size()))) return false;
        if (data.size() > state_.maxChunk || offset + data.size() > state_.flash.size()) return false;
        std::copy_n(state_.flash.begin() + offset, data.size(), data.begin());
        if (state_.corruptReads && !data.empty()) data[0] ^= 0x01;
        return true;
    }
    bool CheckFlashType(uint16_t) override { return Record("CheckFlashType"); }
    bool Finish() override {
        state_.finished = true;
        return Record("Finish");
    }
    uint32_t MaxChunk() const override { return state_.maxChunk; }

    static std::string Hex(uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%x", value);
        return text;
    }

private:
    void Fill(uint64_t first, uint64_t last, uint64_t unit) {
        const uint64_t end = std::min<uint64_t>((last + 1) * unit, state_.flash.size());
        for (uint64_t at = first * unit; at < end; ++at) state_.flash[at] = 0xFF;
    }

    bool Record(const std::string& call) {
        state_.calls.push_back(call);
        if (!state_.failOn.empty() && call.rfind(state_.failOn, 0) == 0) {
            state_.failOn.clear();
            return false;
        }
        return true;
    }

    FakeFlashState& state_;
};

}  // namespace tavrel::test
