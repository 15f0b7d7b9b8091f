#include "Clock.h"

#include <time.h>

namespace sim {

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
