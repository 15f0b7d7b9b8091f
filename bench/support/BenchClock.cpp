#include "BenchClock.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <time.h>

#include "app/linux/afx.h"
#include "app/linux/shim_sleep.h"
#include "sim/Clock.h"

namespace bench {
namespace {

bool g_virtual = false;

}  // namespace

SleepLog& sleepLog() {
    static SleepLog log;
    return log;
}

void useVirtualClock(bool on) {
    g_virtual = on;
}

bool virtualClockInUse() {
    return g_virtual;
}

uint64_t SleepLog::requestedMsOf(std::initializer_list<unsigned> durations) const {
    uint64_t total = 0;
    for (unsigned ms : durations) {
        auto it = callsByMs.find(ms);
        if (it != callsByMs.end()) total += it->second * ms;
    }
    return total;
}

uint64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

uint64_t nowUs() {
    return g_virtual ? sim::virtualClock().nowUs() : monotonicUs();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void useProgramTimerSlack() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

}  // namespace bench

void Sleep(unsigned ms) {
    bench::SleepLog& log = bench::sleepLog();
    ++log.callsByMs[ms];
    log.requestedMs += ms;
    if (bench::virtualClockInUse()) {
        sim::virtualClock().advance(static_cast<uint64_t>(ms) * 1000u);
        log.sleptUs += static_cast<uint64_t>(ms) * 1000u;
        return;
    }
    // The program's own sleep, timed.
    const uint64_t start = bench::monotonicUs();
    shim::sleepMs(ms);
    log.sleptUs += bench::monotonicUs() - start;
}

unsigned long GetTickCount() {
    return static_cast<unsigned long>(bench::nowUs() / 1000u);
}
