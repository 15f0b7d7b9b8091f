// A millisecond sleep on the monotonic clock that ends as near its deadline
// as the machine allows, never before it.
//
// The kernel wakes a sleeping thread some 30 to 90 us after the time asked
// for, even with the least timer slack. The update polls its parts with
// 1 ms sleeps some twenty thousand times, so that lateness alone would make
// it 5 to 10 % slower. The sleep therefore asks the kernel for a wake-up a
// little before the deadline and watches the clock for the rest: giving the
// processor away instead (a yield) could cost a whole time slice on a busy machine.
// The sleep never ends early: each one is a lower bound that a part's busy
// time relies on.
#pragma once

#include <time.h>

#include <cerrno>
#include <cstdint>

namespace shim {

inline uint64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

// How much earlier than its deadline a sleep asks to be woken.
constexpr uint64_t kWakeEarlyNs = 100000;

inline void sleepMs(unsigned ms) {
    const uint64_t deadline = monotonicNs() + static_cast<uint64_t>(ms) * 1000000ull;
    if (static_cast<uint64_t>(ms) * 1000000ull > kWakeEarlyNs) {
        const uint64_t wake = deadline - kWakeEarlyNs;
        const timespec at{static_cast<time_t>(wake / 1000000000ull), static_cast<long>(wake % 1000000000ull)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
    }
    while (monotonicNs() < deadline) {
    }
}

}  // namespace shim
