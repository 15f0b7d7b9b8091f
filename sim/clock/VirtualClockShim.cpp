// Sleep and GetTickCount of the test build: they move and read the virtual
// clock that the simulated hardware takes its time from, so a wait of
// seconds costs no time and a timeout happens exactly when it should.
#include "app/linux/afx.h"
#include "sim/Clock.h"

void Sleep(unsigned ms) {
    sim::virtualClock().advance(static_cast<uint64_t>(ms) * 1000u);
}

unsigned long GetTickCount() {
    return sim::virtualClock().tickCount();
}
