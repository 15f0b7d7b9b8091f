// Time for the simulated hardware. Device models never read a clock of their
// own: every call that may depend on time carries the current time in
// microseconds, taken from one Clock.
#pragma once

#include <cstdint>

namespace sim {

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint64_t nowUs() = 0;
    // Charges time for work the hardware does (a bus access). A real clock
    // ignores it, because real time passes anyway.
    virtual void spend(uint64_t us) { (void)us; }
};

// The monotonic clock of the machine (the simulated library uses it).
class MonotonicClock : public Clock {
public:
    uint64_t nowUs() override;
};

// A clock that moves only when told. In-process tests use the one instance
// returned by virtualClock(); the test build's Sleep and GetTickCount move
// and read that same instance, so timeouts are tested without waiting.
class VirtualClock : public Clock {
public:
    uint64_t nowUs() override { return m_now; }
    void spend(uint64_t us) override { m_now += us; }
    void advance(uint64_t us) { m_now += us; }
    void set(uint64_t us) { m_now = us; }

private:
    uint64_t m_now = 1000000;  // start away from zero, as a tick count would
};

VirtualClock& virtualClock();

}  // namespace sim
