#include "platform/Interruption.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>

namespace tavrel {
namespace {

std::atomic<int> gSignal{0};
std::atomic<bool> gRequested{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the flag is set from a signal handler");

void OnInterruptSignal(int number) {
    if (gRequested.exchange(true)) {
        // Asked before and still running: give the signal its default effect.
        ::signal(number, SIG_DFL);
        ::raise(number);
        return;
    }
    gSignal.store(number);
}

}  // namespace

void RequestInterruption() { gRequested.store(true); }

bool InterruptionRequested() { return gRequested.load(); }

int InterruptionSignal() { return gSignal.load(); }

void ClearInterruption() {
    gSignal.store(0);
    gRequested.store(false);
}

void InstallInterruptionHandlers() {
    struct sigaction action = {};
    action.sa_handler = OnInterruptSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked poll, read or write returns with EINTR
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

void StopWhenParentEnds(int parentPid) {
    ::signal(SIGPIPE, SIG_IGN);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have gone before the request was made.
    if (::getppid() != parentPid) RequestInterruption();
}

}  // namespace tavrel
