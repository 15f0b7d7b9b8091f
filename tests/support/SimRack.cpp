#include "SimRack.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "sim/Clock.h"
#include "sim/FileUtil.h"
#include "sim/Timing.h"
#include "sim/backend/InProcess.h"

namespace testsupport {
namespace {

constexpr uint64_t kPoweredForUs = 1000000;

sim::Timing timingNamed(const std::string& name) {
    sim::Timing t;
    if (!sim::Timing::byName(name, t)) ADD_FAILURE() << "unknown timing profile '" << name << "'";
    return t;
}

}  // namespace

std::string runProfile() {
    const char* profile = getenv("VJX_TEST_PROFILE");
    return profile && *profile ? profile : "instant";
}

SimRack::SimRack(std::vector<std::string> cardSpecs, const std::string& timing)
    : m_timing(timingNamed(timing)) {
    char pattern[] = "/tmp/vjxsim-test-XXXXXX";
    if (!mkdtemp(pattern)) {
        ADD_FAILURE() << "cannot make a temporary directory";
        abort();
    }
    m_dir = pattern;
    std::string error;
    std::unique_ptr<sim::Rack> rack =
        sim::Rack::create(m_dir, cardSpecs, m_timing, sim::virtualClock(), &error);
    if (!rack) {
        ADD_FAILURE() << "rack not made: " << error;
        sim::removeTree(m_dir);
        rack = sim::Rack::create(m_dir, {}, m_timing, sim::virtualClock(), &error);
    }
    m_rack = rack.release();
    m_rack->trace().toMemory();
    m_rack->setStrict(true);
    sim::backend::bind(m_rack);
    // The machine was switched on a while before the program under test
    // starts: the FPGA has loaded and the microcontroller has started, even
    // at the parts' slowest times.
    sim::virtualClock().advance(kPoweredForUs);
}

SimRack::~SimRack() {
    const std::vector<std::string> broken = takeBreaches();
    for (const std::string& line : broken) ADD_FAILURE() << "a part's rule was broken: " << line;
    sim::backend::bind(nullptr);
    delete m_rack;
    sim::removeTree(m_dir);
}

sim::Rack& SimRack::rack() {
    return *m_rack;
}

const std::string& SimRack::dir() const {
    return m_dir;
}

std::vector<std::string> SimRack::traceLines() {
    return m_rack->trace().memoryLines();
}

void SimRack::clearTrace() {
    m_rack->trace().clearMemory();
}

void SimRack::setTracing(bool on) {
    if (on)
        m_rack->trace().toMemory();
    else
        m_rack->trace().off();
}

std::vector<std::string> SimRack::takeBreaches() {
    std::vector<std::string> lines = std::move(m_breaches);
    m_breaches.clear();
    if (m_rack) {
        const auto& now = m_rack->trace().breaches();
        lines.insert(lines.end(), now.begin(), now.end());
        m_rack->trace().clearBreaches();
    }
    return lines;
}

void SimRack::reopen() {
    const auto& now = m_rack->trace().breaches();
    m_breaches.insert(m_breaches.end(), now.begin(), now.end());
    sim::backend::bind(nullptr);
    delete m_rack;
    m_rack = nullptr;
    std::string error;
    std::unique_ptr<sim::Rack> rack = sim::Rack::open(m_dir, m_timing, sim::virtualClock(), &error);
    if (!rack) {
        ADD_FAILURE() << "rack not reopened: " << error;
        abort();
    }
    m_rack = rack.release();
    m_rack->trace().toMemory();
    m_rack->setStrict(true);
    sim::backend::bind(m_rack);
}

}  // namespace testsupport
