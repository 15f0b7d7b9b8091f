// A rack of simulated cards for a benchmark, made in a temporary directory
// and bound to the in-process access library, in a timing profile, on one of
// two clocks:
//   real time     the machine's monotonic clock, as the shipped program runs;
//   virtual time  the simulator's virtual clock with exact sleeps and bus
//                 accesses that cost nothing: the time the engines' own
//                 algorithm takes on the modelled parts.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/Clock.h"
#include "sim/Rack.h"

namespace bench {

class BenchRack {
public:
    BenchRack(const std::vector<std::string>& cardSpecs, const std::string& profile, bool virtualTime);
    ~BenchRack();
    BenchRack(const BenchRack&) = delete;
    BenchRack& operator=(const BenchRack&) = delete;

    sim::Rack& rack() { return *m_rack; }
    const std::string& dir() const { return m_dir; }
    bool ok() const { return m_rack != nullptr; }
    const std::string& error() const { return m_error; }

    // Bytes every card's mailbox put on its link, per direction.
    struct LinkBytes {
        uint64_t toMcu = 0;
        uint64_t toHost = 0;
    };
    LinkBytes linkBytes();
    // Register reads, register writes and configuration accesses so far.
    struct Accesses {
        uint64_t reads = 0, writes = 0, configs = 0;
        uint64_t total() const { return reads + writes + configs; }
    };
    Accesses accesses();
    // CPU time one register access through the simulated library costs, in
    // nanoseconds, measured on card 1.
    double cpuPerAccessNs();

private:
    std::string m_dir;
    std::string m_error;
    sim::MonotonicClock m_clock;
    std::unique_ptr<sim::Rack> m_rack;
};

// What one run took.
struct RunResult {
    bool ok = false;
    std::string failure;       // the log's first error line when !ok
    double elapsedMs = 0;      // on the clock in use
    double cpuMs = 0;          // host CPU (the engines and the simulated parts)
    double requestedMs = 0;    // sleeps asked for
    double sleptMs = 0;        // sleeps as they took
    double busCpuMs = 0;       // CPU of the simulated bus: accesses x cpuPerAccessNs
    double modelledBusMs = 0;  // what the accesses take on a real bus in this profile
    BenchRack::Accesses accesses;
    std::map<unsigned, uint64_t> sleepsByMs;  // requested duration -> calls
};

// A model of the sleeps on Windows, where a sleep ends only on a tick of
// the system timer: each Sleep(ms) lasts ms rounded up to whole ticks, at
// least one (Sleep(0) only yields). The milliseconds the sleeps of
// `sleepsByMs` would take at a tick of `tickMs`.
double modelledWindowsSleepMs(const std::map<unsigned, uint64_t>& sleepsByMs, double tickMs);

// Runs `body` on a new rack of `cardSpecs` in `profile`, in real or virtual
// time; the body answers whether the job succeeded and, if not, why.
using Body = std::function<bool(BenchRack& rack, std::string* failure)>;
RunResult runOnce(const std::vector<std::string>& cardSpecs, const std::string& profile, bool virtualTime,
                  const Body& body);
// Both runs of one profile side by side: real, virtual, their ratio, and the
// share of the real run spent in host CPU, sleep overshoot and bus time.
void printComparison(const std::string& profile, const RunResult& real, const RunResult& virtualRun);
// How much a 1 ms sleep overshoots on this machine, in microseconds (mean of
// a series), with the thread's timer slack as it is and with the slack set
// to 1 ns; prints both.
void printSleepOvershoot();
// The first line of a log holding "Error" or "error", for a failed run.
std::string firstErrorLine(std::FILE* log);

}  // namespace bench
