// Preloaded into tavrel-cli (LD_PRELOAD) by the performance report: every sleep returns at once,
// so what a transfer still takes is the protocol's own cost, without the host's waits between
// packets. Waits on a descriptor (poll) are left alone: they wait for the board, not for time.
#include <time.h>
#include <unistd.h>

extern "C" {

int nanosleep(const struct timespec*, struct timespec* remaining) {
    if (remaining != nullptr) *remaining = timespec{};
    return 0;
}

int clock_nanosleep(clockid_t, int, const struct timespec*, struct timespec* remaining) {
    if (remaining != nullptr) *remaining = timespec{};
    return 0;
}

int usleep(useconds_t) { return 0; }

}  // extern "C"
