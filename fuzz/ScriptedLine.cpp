#include "ScriptedLine.h"

#include <algorithm>
#include <cstring>

namespace tavrel::fuzz {

ScriptedLine::ScriptedLine(UserPrompt& prompt, ManualClock& clock, std::span<const uint8_t> bursts)
    : UartLine(prompt, clock), clock_(clock) {
    while (!bursts.empty()) {
        const size_t length = std::min<size_t>(bursts[0], bursts.size() - 1);
        stream_.insert(stream_.end(), bursts.begin() + 1, bursts.begin() + 1 + static_cast<std::ptrdiff_t>(length));
        burstEnds_.push_back(stream_.size());
        bursts = bursts.subspan(1 + length);
    }
}

size_t ScriptedLine::ReadComBytes(uint8_t* buffer, size_t count, uint32_t timeoutMs) {
    atBurstEnd_ = false;
    if (count > stream_.size() - pos_) {
        clock_.Advance(timeoutMs);
        return 0;
    }
    if (count > 0) std::memcpy(buffer, stream_.data() + pos_, count);
    pos_ += count;
    return count;
}

size_t ScriptedLine::ReadComAvailable(uint8_t* buffer, size_t maximum) {
    if (atBurstEnd_) {
        atBurstEnd_ = false;
        return 0;
    }
    const auto end = std::upper_bound(burstEnds_.begin(), burstEnds_.end(), pos_);
    if (end == burstEnds_.end()) return 0;
    const size_t count = std::min(maximum, *end - pos_);
    if (count > 0) std::memcpy(buffer, stream_.data() + pos_, count);
    pos_ += count;
    atBurstEnd_ = pos_ == *end;
    return count;
}

}  // namespace tavrel::fuzz
