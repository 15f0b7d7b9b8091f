// A rack of simulated cards for a benchmark: made in a temporary directory,
// bound to the in-process access library, running on the monotonic clock
// with the datasheet timing of the parts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/Clock.h"
#include "sim/Rack.h"

namespace bench {

class BenchRack {
public:
    explicit BenchRack(const std::vector<std::string>& cardSpecs);
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
    // Prints the register and configuration accesses by kind.
    void printAccesses();

private:
    std::string m_dir;
    std::string m_error;
    sim::MonotonicClock m_clock;
    std::unique_ptr<sim::Rack> m_rack;
};

}  // namespace bench
