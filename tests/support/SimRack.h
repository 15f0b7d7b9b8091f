// A simulated rack for in-process tests: a rack of cards in a fresh
// temporary directory, bound to the access library's simulated backend, on
// the virtual clock (so Sleep and GetTickCount of the test build move it),
// with the bus trace kept in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sim/Rack.h"
#include "sim/Timing.h"

namespace testsupport {

// The profile of this run of a test program: ctest runs the host's engine
// test programs once more per slow profile (VJX_TEST_PROFILE=typical|max, see
// tests/README.md); a test that names no profile runs in this one.
std::string runProfile();

// The timing profiles that tests of the host run in: the logic alone, and the
// parts at their typical and at their data-sheet maximum times. In a run for
// one profile (VJX_TEST_PROFILE set), that profile alone.
inline ::testing::internal::ParamGenerator<std::string> Profiles() {
    const char* only = getenv("VJX_TEST_PROFILE");
    if (only && *only) return ::testing::ValuesIn(std::vector<std::string>{only});
    return ::testing::ValuesIn(std::vector<std::string>{"instant", "typical", "max"});
}

class SimRack {
public:
    // cardSpecs as `vjxsim new --card` takes them ("84", "80,fw=9.14",
    // "blank-9056", ...); timing "instant", "typical" or "max". A bad spec fails
    // the current test (GoogleTest ADD_FAILURE) and leaves an empty rack.
    // The rack is strict: the first rule of a part that the program under
    // test breaks fails its next access, and the test fails when it ends
    // with a rule broken that it did not take with takeBreaches().
    explicit SimRack(std::vector<std::string> cardSpecs, const std::string& timing = runProfile());
    ~SimRack();  // unbinds and removes the directory

    // The trace lines of the rules broken so far ("! <time> card<N> <rule>
    // ..."), which are then forgiven: the rack goes on as if none was broken.
    std::vector<std::string> takeBreaches();
    SimRack(const SimRack&) = delete;
    SimRack& operator=(const SimRack&) = delete;

    sim::Rack& rack();
    const std::string& dir() const;

    // Bus trace lines since construction or clearTrace(), each exactly as the
    // trace file holds it (without the line break).
    std::vector<std::string> traceLines();
    void clearTrace();
    // Tracing costs memory in long runs (a full update is millions of
    // accesses); a test that does not look at the trace may switch it off.
    void setTracing(bool on);

    // Closes the rack and opens it again from its directory, as the next
    // process would (non-volatile parts and saved runtime state only).
    void reopen();

private:
    std::string m_dir;
    sim::Timing m_timing;
    sim::Rack* m_rack = nullptr;
    std::vector<std::string> m_breaches;  // of racks closed by reopen()
};

}  // namespace testsupport
