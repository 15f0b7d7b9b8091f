// Sleep and GetTickCount of the benchmark programs. In real time (as in the
// shipped program) every requested sleep is recorded with what it really
// took, so that a benchmark can tell the timer's overshoot from the waits
// the engines asked for. On the virtual clock a sleep takes exactly what it
// asks for and costs no waiting.
#pragma once

#include <cstdint>
#include <initializer_list>
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
// Sleep and GetTickCount on the simulator's virtual clock (true) or in real
// time (false, the default).
void useVirtualClock(bool on);
bool virtualClockInUse();
uint64_t monotonicUs();  // real time
uint64_t nowUs();        // the clock in use
double cpuSeconds();     // user + system time of this process
// The least timer slack for this thread, as vjxflash's clock sets it at
// start; the benchmarks' own clock stands in for that one.
void useProgramTimerSlack();

}  // namespace bench
