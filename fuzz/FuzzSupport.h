#pragma once
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "model/OperationHost.h"
#include "platform/UserPrompt.h"

namespace tavrel::fuzz {

// Messages go nowhere; the fuzzers look for crashes and undefined behaviour only. The security
// question is answered `answers` times with `answer`, then cancelled (a user who gives up), so a
// flow that asks again after every wrong password still ends.
class SilentPrompt : public UserPrompt {
public:
    SilentPrompt() = default;
    SilentPrompt(SecurityAnswer answer, int answers) : answer_(std::move(answer)), answers_(answers) {}
    void ShowMessage(const std::string&, MessageIcon) override {}
    SecurityAnswer AskSecurity(const std::string&) override {
        if (answers_ <= 0) return {};
        --answers_;
        return answer_;
    }

private:
    SecurityAnswer answer_;
    int answers_ = 0;
};

class SilentHost : public OperationHost {
public:
    void ReportStatus(uint32_t, const std::string&, ReportKind) override {}
    void ReportTotal(uint32_t) override {}
    void ReportDone(OperationKind, std::optional<ProgramPageKind>) override {}
};

// Takes the fuzz input apart from its front: the flows' choices first, the rest as the bytes the
// other side sends.
class InputReader {
public:
    explicit InputReader(std::span<const uint8_t> data) : data_(data) {}
    uint8_t Byte() {
        if (data_.empty()) return 0;
        const uint8_t byte = data_.front();
        data_ = data_.subspan(1);
        return byte;
    }
    std::span<const uint8_t> Take(size_t count) {
        const std::span<const uint8_t> taken = data_.first(std::min(count, data_.size()));
        data_ = data_.subspan(taken.size());
        return taken;
    }
    std::span<const uint8_t> Rest() const { return data_; }

private:
    std::span<const uint8_t> data_;
};

// The endless-input modes: a scripted device that never runs out of bytes must still see the run
// end within the bound the receive path promises. Called by the scripted device on each access
// once the test clock passed the bound: names the path and aborts (a finding).
[[noreturn]] void OutlastedBound(const char* path, uint64_t nowMs, uint64_t boundMs);
inline void CheckBound(const char* path, uint64_t nowMs, uint64_t boundMs) {
    if (boundMs != 0 && nowMs > boundMs) OutlastedBound(path, nowMs, boundMs);
}

// A private folder for this fuzzing process, made once.
const std::string& ScratchFolder();
// Writes bytes to a file in the scratch folder and returns its path.
std::string WriteScratchFile(const char* name, std::span<const uint8_t> data);
std::string WriteScratchFile(const char* name, const std::string& text);

}  // namespace tavrel::fuzz
