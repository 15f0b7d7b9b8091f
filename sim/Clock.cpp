#include "Clock.h"

#include <time.h>

// Defined by the simulated access library only (clock/ProcessClock.c).
extern "C" void vjxsim_process_clock_spend_ns(uint64_t ns) __attribute__((weak));

namespace sim {

void MonotonicClock::spendNs(uint64_t ns) {
    if (vjxsim_process_clock_spend_ns) vjxsim_process_clock_spend_ns(ns);
}

uint64_t MonotonicClock::nowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000ull + static_cast<uint64_t>(ts.tv_nsec) / 1000ull;
}

VirtualClock& virtualClock() {
    static VirtualClock clock;
    return clock;
}

}  // namespace sim
