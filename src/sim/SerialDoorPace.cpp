#include "sim/SerialDoorPace.h"

#include <algorithm>
#include <chrono>

namespace tavrel::sim {

uint64_t PaceNowNs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t ByteTimeNs(uint32_t baud) { return baud == 0 ? 0 : 10'000'000'000ull / baud; }

void LinePace::Started(uint64_t nowNs) { headStartNs_ = std::max(headStartNs_, nowNs); }

size_t LinePace::Crossed(size_t waiting, uint64_t nowNs, uint32_t baud) const {
    const uint64_t byteNs = ByteTimeNs(baud);
    if (byteNs == 0) return waiting;
    if (nowNs < headStartNs_) return 0;
    return static_cast<size_t>(std::min<uint64_t>(waiting, (nowNs - headStartNs_) / byteNs));
}

void LinePace::Took(size_t count, uint32_t baud) { headStartNs_ += count * ByteTimeNs(baud); }

}  // namespace tavrel::sim
