#include "BenchRack.h"

#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "BenchClock.h"
#include "app/linux/shim_sleep.h"
#include "sim/Timing.h"
#include "sim/backend/InProcess.h"

namespace bench {

BenchRack::BenchRack(const std::vector<std::string>& cardSpecs, const std::string& profile,
                     bool virtualTime) {
    sim::Timing timing;
    if (!sim::Timing::byName(profile, timing)) {
        m_error = "no timing profile '" + profile + "'";
        return;
    }
    if (virtualTime) {
        // The algorithm's own time: register accesses cost nothing.
        timing.readPciNs = timing.readPcieNs = timing.writeNs = timing.configNs = 0;
    }
    std::string tmpl = (std::filesystem::temp_directory_path() / "vjx-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
        m_error = "can't make a temporary directory";
        return;
    }
    m_dir = tmpl;
    sim::Clock& clock = virtualTime ? static_cast<sim::Clock&>(sim::virtualClock()) : m_clock;
    m_rack = sim::Rack::create(m_dir + "/rack", cardSpecs, timing, clock, &m_error);
    if (!m_rack) return;
    m_rack->trace().off();
    sim::backend::bind(m_rack.get());
    // Freshly powered FPGAs read their configuration and the
    // microcontrollers start before the program runs.
    const uint64_t settleUs = timing.fpgaLoadUs(512 * 1024) + timing.mcuResetUs + 10000;
    if (virtualTime) {
        sim::virtualClock().advance(settleUs);
    } else {
        usleep(static_cast<useconds_t>(settleUs));
    }
}

BenchRack::~BenchRack() {
    sim::backend::bind(nullptr);
    m_rack.reset();
    std::error_code ec;
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
}

BenchRack::LinkBytes BenchRack::linkBytes() {
    LinkBytes total;
    for (unsigned n = 1; n <= m_rack->cardCount(); ++n) {
        const auto& stats = m_rack->card(n).mailbox().stats();
        total.toMcu += stats.bytesToMcu;
        total.toHost += stats.bytesToHost;
    }
    return total;
}

BenchRack::Accesses BenchRack::accesses() {
    Accesses a;
    for (const auto& [kind, count] : m_rack->trace().counts()) {
        std::istringstream in(kind);  // "card r 0", "bridge cw -"
        std::string function, op;
        in >> function >> op;
        if (op == "r") a.reads += count;
        if (op == "w") a.writes += count;
        if (op == "cr" || op == "cw") a.configs += count;
    }
    return a;
}

double BenchRack::cpuPerAccessNs() {
    constexpr int kReads = 200000;
    uint32_t value = 0;
    std::string error;
    const double start = cpuSeconds();
    for (int i = 0; i < kReads; ++i) m_rack->read(sim::PciFunction::Kind::Card, 1, 0, 0, 32, &value, &error);
    return (cpuSeconds() - start) * 1e9 / kReads;
}

namespace {

// A 1 ms sleep, by the kernel alone or as the program sleeps.
double meanOvershootUs(int sleeps, bool programsSleep) {
    uint64_t total = 0;
    for (int i = 0; i < sleeps; ++i) {
        const uint64_t start = monotonicUs();
        if (programsSleep) {
            shim::sleepMs(1);
        } else {
            timespec ts{0, 1000000L};
            while (nanosleep(&ts, &ts) != 0) {
            }
        }
        total += monotonicUs() - start - 1000;
    }
    return static_cast<double>(total) / sleeps;
}

}  // namespace

void printSleepOvershoot() {
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    const double withDefault = meanOvershootUs(200, false);
    prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0);
    const double withMinimal = meanOvershootUs(200, false);
    const double programs = meanOvershootUs(200, true);
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0, 0, 0);
    std::printf("  a 1 ms sleep overshoots by %.0f us with the timer slack of %d ns, by %.0f us with 1 ns,",
                withDefault, slack, withMinimal);
    std::printf(" by %.1f us as the program sleeps\n", programs);
}

std::string firstErrorLine(std::FILE* log) {
    std::rewind(log);
    char line[512];
    while (std::fgets(line, sizeof line, log)) {
        if (std::strncmp(line, "---", 3) == 0) continue;  // the banner of the error frame
        if (std::strstr(line, "rror") || std::strstr(line, "timeout")) {
            std::string text = line;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            return text;
        }
    }
    return "(no error line in the log)";
}

RunResult runOnce(const std::vector<std::string>& cardSpecs, const std::string& profile, bool virtualTime,
                  const Body& body) {
    RunResult r;
    useVirtualClock(virtualTime);
    BenchRack rack(cardSpecs, profile, virtualTime);
    if (!rack.ok()) {
        r.failure = rack.error();
        useVirtualClock(false);
        return r;
    }
    sleepLog().clear();
    const double cpu0 = cpuSeconds();
    const uint64_t t0 = nowUs();
    r.ok = body(rack, &r.failure);
    r.elapsedMs = static_cast<double>(nowUs() - t0) / 1000.0;
    r.cpuMs = (cpuSeconds() - cpu0) * 1000.0;
    r.requestedMs = static_cast<double>(sleepLog().requestedMs);
    r.sleptMs = static_cast<double>(sleepLog().sleptUs) / 1000.0;
    r.sleepsByMs = sleepLog().callsByMs;
    r.accesses = rack.accesses();
    sim::Timing timing;
    sim::Timing::byName(profile, timing);
    r.modelledBusMs = (static_cast<double>(r.accesses.reads) * static_cast<double>(timing.readPcieNs) +
                       static_cast<double>(r.accesses.writes) * static_cast<double>(timing.writeNs) +
                       static_cast<double>(r.accesses.configs) * static_cast<double>(timing.configNs)) /
                      1e6;
    if (!virtualTime) r.busCpuMs = static_cast<double>(r.accesses.total()) * rack.cpuPerAccessNs() / 1e6;
    useVirtualClock(false);
    return r;
}

double modelledWindowsSleepMs(const std::map<unsigned, uint64_t>& sleepsByMs, double tickMs) {
    double total = 0;
    for (const auto& [ms, calls] : sleepsByMs) {
        if (ms == 0) continue;
        const double ticks = std::ceil(static_cast<double>(ms) / tickMs - 1e-9);
        total += static_cast<double>(calls) * (ticks < 1 ? 1 : ticks) * tickMs;
    }
    return total;
}

void printComparison(const std::string& profile, const RunResult& real, const RunResult& v) {
    std::printf("  %s timing:\n", profile.c_str());
    if (!real.ok || !v.ok)
        std::printf(
            "    the job did not complete: real run %s, virtual run %s; figures are up to that point\n",
            real.ok ? "completed" : ("failed (" + real.failure + ")").c_str(),
            v.ok ? "completed" : ("failed (" + v.failure + ")").c_str());
    auto share = [&](double ms) { return real.elapsedMs > 0 ? 100.0 * ms / real.elapsedMs : 0.0; };
    const double overshoot = real.sleptMs - real.requestedMs;
    std::printf("    real time            %10.1f ms\n", real.elapsedMs);
    std::printf("    virtual time         %10.1f ms  (exact sleeps, free register accesses)\n", v.elapsedMs);
    std::printf("    real / virtual       %10.3f\n", v.elapsedMs > 0 ? real.elapsedMs / v.elapsedMs : 0.0);
    std::printf(
        "    real run: sleeps asked %.1f ms; host CPU %.1f ms (%.1f%%), sleep overshoot %.1f ms (%.1f%%), "
        "bus time %.1f ms (%.1f%%)\n",
        real.requestedMs, real.cpuMs, share(real.cpuMs), overshoot, share(overshoot), real.busCpuMs,
        share(real.busCpuMs));
    std::printf(
        "    register accesses %llu (reads %llu, writes %llu, configuration %llu); on a real bus in this "
        "profile they take %.1f ms\n",
        static_cast<unsigned long long>(real.accesses.total()),
        static_cast<unsigned long long>(real.accesses.reads),
        static_cast<unsigned long long>(real.accesses.writes),
        static_cast<unsigned long long>(real.accesses.configs), real.modelledBusMs);
    uint64_t sleeps = 0;
    for (const auto& entry : v.sleepsByMs) sleeps += entry.second;
    std::printf("    sleeps               %10llu calls, %.1f ms asked\n",
                static_cast<unsigned long long>(sleeps), v.requestedMs);
    // The virtual run with each of its sleeps as long as the Windows timer
    // would make it.
    auto onWindows = [&](double tickMs) {
        return v.elapsedMs - v.requestedMs + modelledWindowsSleepMs(v.sleepsByMs, tickMs);
    };
    std::printf("    Windows, a model (the virtual run, each sleep rounded up to whole timer ticks):\n");
    std::printf("      at the default 15.625 ms tick %10.1f ms\n", onWindows(15.625));
    std::printf("      at a 1 ms tick                %10.1f ms\n", onWindows(1.0));
}

}  // namespace bench
