#include "ScriptedLine.h"

#include <algorithm>
#include <cstring>

#include "FuzzSupport.h"

namespace tavrel::fuzz {

UartTimings EndlessTimings() {
    UartTimings timings;
    for (uint32_t* bound : {&timings.readMs, &timings.syncWindowMs, &timings.syncByteMs, &timings.replyHeaderMs,
                            &timings.readyByteMs, &timings.unlockLimitMs, &timings.handshakeSettleMs,
                            &timings.eraseSettleMs, &timings.passwordPollMs})
        *bound = std::max<uint32_t>(*bound / 50, 1);
    return timings;
}

ScriptedLine::ScriptedLine(UserPrompt& prompt, ManualClock& clock, std::span<const uint8_t> bursts, bool endless,
                           uint64_t boundMs, const char* path, UartTimings timings)
    : UartLine(prompt, clock, timings), clock_(clock), endless_(endless), boundMs_(boundMs), path_(path) {
    while (!bursts.empty()) {
        const size_t length = std::min<size_t>(bursts[0], bursts.size() - 1);
        stream_.insert(stream_.end(), bursts.begin() + 1, bursts.begin() + 1 + static_cast<std::ptrdiff_t>(length));
        burstEnds_.push_back(stream_.size());
        bursts = bursts.subspan(1 + length);
    }
    if (endless_ && stream_.empty()) {
        stream_ = {0};
        burstEnds_ = {1};
    }
    if (endless_) burstEnds_.erase(std::unique(burstEnds_.begin(), burstEnds_.end()), burstEnds_.end());
}

// Bytes from the endless stream, wrapping at its end; toBurstEnd stops at the end of a burst.
size_t ScriptedLine::Endless(uint8_t* buffer, size_t count, bool toBurstEnd) {
    CheckBound(path_, clock_.NowMs(), boundMs_);
    size_t moved = 0;
    while (moved < count) {
        if (pos_ == stream_.size()) pos_ = 0;
        const size_t end = toBurstEnd ? *std::upper_bound(burstEnds_.begin(), burstEnds_.end(), pos_) : stream_.size();
        const size_t step = std::min(count - moved, end - pos_);
        std::memcpy(buffer + moved, stream_.data() + pos_, step);
        pos_ += step;
        moved += step;
        if (toBurstEnd && pos_ == end) break;
    }
    clock_.Advance(std::max<size_t>(moved, 1));
    return moved;
}

size_t ScriptedLine::ReadComBytes(uint8_t* buffer, size_t count, uint32_t timeoutMs) {
    if (endless_) {
        // At a millisecond a byte, more bytes than the time-out has milliseconds do not arrive in
        // time: the read fails after its time-out, the bytes that came meanwhile taken.
        if (count > timeoutMs) {
            std::vector<uint8_t> lost(timeoutMs);
            Endless(lost.data(), lost.size(), false);
            return 0;
        }
        return Endless(buffer, count, false);
    }
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
    if (endless_) return Endless(buffer, maximum, true);
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
