// Sleep and GetTickCount on the real clock. Kept apart from the rest of the
// shim so that tests link a virtual clock in their place.
#include <sys/prctl.h>

#include <ctime>

#include "afx.h"
#include "shim_sleep.h"

void Sleep(unsigned ms) {
    shim::sleepMs(ms);
}

// Milliseconds on the monotonic clock, as Windows counts them since start-up:
// every timeout is a difference of two readings, which a change of the time
// of day (by hand, or by a time service) must not stretch or cut short.
unsigned long GetTickCount() {
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
    return static_cast<unsigned long>(now.tv_sec) * 1000ul +
           static_cast<unsigned long>(now.tv_nsec) / 1000000ul;
}

namespace {

// A sleep lasts what it asks plus the thread's timer slack (50 us by
// default); an update sleeps 1 ms some twenty thousand times. The least
// slack, set once at start, keeps the kernel's part of each sleep as short
// as asked.
const struct LeastTimerSlack {
    LeastTimerSlack() { prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }
} g_leastTimerSlack;

}  // namespace
