#include "RackBinding.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "sim/FileUtil.h"
#include "sim/Timing.h"
#include "sim/Trace.h"
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

bool RackBinding::fromEnvironment(std::string* error) {
    const char* dir = getenv(env::kEnvRack);
    if (!dir || !*dir) {
        *error = std::string(env::kEnvRack) +
                 " is not set: run the program with 'vjxsim run RACK -- wine PROGRAM'";
        return false;
    }
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
    const char* trace = getenv(env::kEnvTrace);
    if (trace && *trace && !rack->trace().toFile(trace, error)) return false;
    const char* stats = getenv(env::kEnvStats);
    if (stats) m_statsPath = stats;
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
