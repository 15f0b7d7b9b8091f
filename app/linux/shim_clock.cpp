// Sleep and GetTickCount on the real clock. Kept apart from the rest of the
// shim so that tests link a virtual clock in their place.
#include <sys/prctl.h>
#include <sys/time.h>

#include <cerrno>
#include <ctime>

#include "afx.h"

void Sleep(unsigned ms) {
    unsigned us = ms * 1000u;  // 32-bit, as the callers' small values allow
    struct timespec left = {static_cast<time_t>(us / 1000000u), static_cast<long>(us % 1000000u) * 1000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

unsigned long GetTickCount() {
    struct timeval now;
    if (gettimeofday(&now, nullptr) != 0) return 0;
    return static_cast<unsigned long>(now.tv_sec) * 1000ul + static_cast<unsigned long>(now.tv_usec) / 1000ul;
}

namespace {

// A sleep lasts what it asks plus the thread's timer slack (50 us by
// default); an update sleeps 1 ms some twenty thousand times. The least
// slack, set once at start, keeps the sleeps as long as asked.
const struct LeastTimerSlack {
    LeastTimerSlack() { prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }
} g_leastTimerSlack;

}  // namespace
