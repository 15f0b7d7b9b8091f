#include "BenchClock.h"

#include <sys/resource.h>
#include <time.h>

#include "app/linux/afx.h"

namespace bench {

SleepLog& sleepLog() {
    static SleepLog log;
    return log;
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

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace bench

void Sleep(unsigned ms) {
    const uint64_t start = bench::monotonicUs();
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
    bench::SleepLog& log = bench::sleepLog();
    ++log.callsByMs[ms];
    log.requestedMs += ms;
    log.sleptUs += bench::monotonicUs() - start;
}

unsigned long GetTickCount() {
    return static_cast<unsigned long>(bench::monotonicUs() / 1000u);
}
