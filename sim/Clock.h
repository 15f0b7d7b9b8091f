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
    // The same in nanoseconds (a bus access takes less than a microsecond).
    virtual void spendNs(uint64_t ns) { (void)ns; }
};

// The monotonic clock of the machine (the simulated library uses it). In a
// program run on virtual time (VJXSIM_CLOCK=virtual, see
// clock/ProcessClock.c) its readings are virtual, and the time a bus access
// takes moves it.
class MonotonicClock : public Clock {
public:
    uint64_t nowUs() override;
    void spendNs(uint64_t ns) override;
};

// A clock that moves only when told. In-process tests use the one instance
// returned by virtualClock(); the test build's Sleep and GetTickCount move
// and read that same instance, so timeouts are tested without waiting.
class VirtualClock : public Clock {
public:
    uint64_t nowUs() override { return m_now; }
    void spend(uint64_t us) override { m_now += us; }
    void spendNs(uint64_t ns) override {
        m_ns += ns;
        m_now += m_ns / 1000;
        m_ns %= 1000;
    }
    void advance(uint64_t us) { m_now += us; }
    void set(uint64_t us) {
        m_now = us;
        m_ns = 0;
    }
    // How often the millisecond tick count moves: every millisecond, or, as
    // Windows counts by default, every timer interrupt (15625 us), by 15 or 16.
    void setTickStepUs(uint64_t us) { m_tickStepUs = us ? us : 1000; }
    unsigned long tickCount() const {
        return static_cast<unsigned long>(m_now / m_tickStepUs * m_tickStepUs / 1000);
    }

private:
    uint64_t m_now = 1000000;  // start away from zero, as a tick count would
    uint64_t m_ns = 0;         // nanoseconds spent beyond m_now
    uint64_t m_tickStepUs = 1000;
};

VirtualClock& virtualClock();

}  // namespace sim
