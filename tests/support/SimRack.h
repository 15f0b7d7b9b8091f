// A simulated rack for in-process tests: a rack of cards in a fresh
// temporary directory, bound to the access library's simulated backend, on
// the virtual clock (so Sleep and GetTickCount of the test build move it),
// with the bus trace kept in memory.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/Rack.h"
#include "sim/Timing.h"

namespace testsupport {

// The timing profiles that tests of the host run in: the logic alone, and the
// parts at their typical and at their data-sheet maximum times.
inline auto Profiles() {
    return ::testing::Values(std::string("instant"), std::string("typical"), std::string("max"));
}

class SimRack {
public:
    // cardSpecs as `vjxsim new --card` takes them ("84", "80,fw=9.14",
    // "blank-9056", ...); timing "instant", "typical" or "max". A bad spec fails
    // the current test (GoogleTest ADD_FAILURE) and leaves an empty rack.
    explicit SimRack(std::vector<std::string> cardSpecs, const std::string& timing = "instant");
    ~SimRack();  // unbinds and removes the directory
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
};

}  // namespace testsupport
