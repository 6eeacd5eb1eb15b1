#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace tavrel {

uint64_t SteadyClock::NowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SteadyClock::SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Clock& SystemClock() {
    static SteadyClock clock;
    return clock;
}

}  // namespace tavrel
