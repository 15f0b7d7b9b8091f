#include "Clock.h"

#include "Platform.h"

#ifndef _WIN32
// Defined by the simulated access library only (clock/ProcessClock.c).
extern "C" void vjxsim_process_clock_spend_ns(uint64_t ns) __attribute__((weak));
#endif

namespace sim {

void MonotonicClock::spendNs(uint64_t ns) {
#ifdef _WIN32
    (void)ns;  // a Windows program runs on real time only
#else
    if (vjxsim_process_clock_spend_ns) vjxsim_process_clock_spend_ns(ns);
#endif
}

uint64_t MonotonicClock::nowUs() {
    return sys::monotonicNs() / 1000ull;
}

VirtualClock& virtualClock() {
    static VirtualClock clock;
    return clock;
}

}  // namespace sim
