// Sleep and GetTickCount of the benchmark programs: real time, as in the
// shipped program, with every requested sleep recorded so that a benchmark
// can say how much of its wall time the engines spent waiting.
#pragma once

#include <cstdint>
#include <map>

namespace bench {

struct SleepLog {
    std::map<unsigned, uint64_t> callsByMs;  // requested duration -> calls
    uint64_t requestedMs = 0;
    uint64_t sleptUs = 0;  // as measured around the sleeps
    void clear() { *this = SleepLog(); }
    // Sleeps of the given requested durations only.
    uint64_t requestedMsOf(std::initializer_list<unsigned> durations) const;
};

SleepLog& sleepLog();
uint64_t monotonicUs();
double cpuSeconds();  // user + system time of this process

}  // namespace bench
