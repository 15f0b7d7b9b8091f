#include "RackBinding.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "sim/FileUtil.h"
#include "sim/Platform.h"
#include "sim/Timing.h"
#include "sim/Trace.h"
#include "sim/WindowsHold.h"
#include "sim/backend/Environment.h"

namespace sim {
namespace kernel {

namespace env = sim::backend;

RackBinding::~RackBinding() {
    finish();
}

void RackBinding::finish() {
    std::string error;
    if (m_owned && (!m_owned->saveState(&error) || !m_owned->intact(&error))) stop(error);
    if (m_owned && !m_statsPath.empty() &&
        !writeFileAtomic(m_statsPath, m_owned->trace().countsJson(), &error)) {
        fprintf(stderr, "vjxsim: access counts not written: %s\n", error.c_str());
        _exit(env::kExitRackFault);
    }
    if (m_owned) m_owned->trace().flush();
}

void RackBinding::bind(Rack* rack) {
    finish();
    m_owned.reset();
    m_statsPath.clear();
    m_rack = rack;
    m_tried = rack != nullptr;
}

bool RackBinding::ensure() {
    if (m_rack) return true;
    if (m_tried) return false;
    m_tried = true;
    std::string error;
    if (!fromEnvironment(&error)) {
        fprintf(stderr, "vjxsim: %s\n", error.c_str());
        return false;
    }
    return true;
}

namespace {

std::string variable(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

#ifdef _WIN32
// The rack's clock as Linux programs read it: the machine's monotonic clock
// (from the raw one, which the performance counter gives under Wine), plus
// the time programs on virtual time skipped on this rack
// (runtime/clock-offset, nanoseconds).
bool takeHostClock(const std::string& dir, std::string* error) {
    const std::string text = variable(env::kEnvHostClock);
    char boot[64] = {};
    long long aheadNs = 0;
    if (sscanf(text.c_str(), "%63s %lld", boot, &aheadNs) != 2) {
        *error = std::string(env::kEnvHostClock) + " is not set: run the program with 'vjxsim run'";
        return false;
    }
    std::string skipped;
    long long skippedNs = 0;
    if (readFile(dir + "/runtime/clock-offset", &skipped, nullptr))
        sscanf(skipped.c_str(), "%lld", &skippedNs);
    sys::setHostClock(boot, aheadNs + (skippedNs > 0 ? skippedNs : 0));
    return true;
}
#endif

}  // namespace

bool RackBinding::fromEnvironment(std::string* error) {
    const std::string named = variable(env::kEnvRack);
    if (named.empty()) {
        *error = std::string(env::kEnvRack) +
                 " is not set: run the program with 'vjxsim run RACK -- wine PROGRAM'";
        return false;
    }
    const std::string dir = sys::hostPath(named);
    if (!sys::pathExists(dir + "/rack.json")) {
        *error = "Simulated rack: " + named + ": not a rack (no rack.json; make one with 'vjxsim new')";
        return false;
    }
    if (variable(env::kEnvClock) == "virtual") {
        *error = "a Windows program cannot run on virtual time (--clock virtual); run it on real time";
        return false;
    }
    if (!WindowsHold::heldWith(dir, variable(env::kEnvHold))) {
        *error = named + ": not held for this program (run it with 'vjxsim run RACK -- wine PROGRAM')";
        return false;
    }
#ifdef _WIN32
    if (!takeHostClock(dir, error)) return false;
#endif
    Timing timing;
    const char* profile = getenv(env::kEnvTiming);
    if (profile && *profile && !Timing::byName(profile, timing)) {
        *error = std::string(env::kEnvTiming) + "='" + profile + "' is no timing profile (" +
                 Timing::namesText() + ")";
        return false;
    }
    TraceFilter filter;
    const char* only = getenv(env::kEnvTraceOnly);
    if (only && !TraceFilter::parse(only, &filter, error)) {
        *error = std::string(env::kEnvTraceOnly) + ": " + *error;
        return false;
    }
    m_clock.reset(new MonotonicClock);
    std::unique_ptr<Rack> rack = Rack::open(dir, timing, *m_clock, error);
    if (!rack) {
        *error = "Simulated rack: " + *error;
        return false;
    }
    rack->trace().setFilter(filter);
    const std::string trace = variable(env::kEnvTrace);
    if (!trace.empty() && !rack->trace().toFile(sys::hostPath(trace), error)) return false;
    const std::string stats = variable(env::kEnvStats);
    if (!stats.empty()) m_statsPath = sys::hostPath(stats);
    m_owned = std::move(rack);
    m_rack = m_owned.get();
    return true;
}

void RackBinding::stop(const std::string& why) {
    fprintf(stderr, "vjxsim: the simulated machine stops: %s\n", why.c_str());
    fflush(stderr);
    _exit(env::kExitRackFault);
}

void RackBinding::checkIntact() {
    std::string why;
    if (m_owned && !m_owned->intact(&why)) stop(why);
}

void RackBinding::shutDown(uint32_t flags) {
    m_rack->powerCycle();
    std::string error;
    if (!m_rack->saveState(&error)) stop(error);
    finish();
    fprintf(stderr, "vjxsim: the simulated machine shuts down (flags 0x%x); every card was powered down\n",
            static_cast<unsigned>(flags));
    fflush(stderr);
    fflush(stdout);
    _exit(0);
}

void RackBinding::noMemory(uint64_t address) {
    fprintf(stderr, "vjxsim: access violation at 0x%llx: no kernel driver mapped memory there\n",
            static_cast<unsigned long long>(address));
    fflush(stderr);
    abort();
}

}  // namespace kernel
}  // namespace sim
