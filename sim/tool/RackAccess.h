// How the tool opens racks: on the machine's clock, with the instant timing
// (the tool itself waits for no part).
#pragma once

#include <memory>
#include <string>

#include "sim/Clock.h"
#include "sim/Rack.h"
#include "sim/Timing.h"

namespace vjxsim {

inline sim::Clock& toolClock() {
    static sim::MonotonicClock clock;
    return clock;
}

inline const sim::Timing& toolTiming() {
    static const sim::Timing timing = sim::Timing::instant();
    return timing;
}

inline std::unique_ptr<sim::Rack> openRack(const std::string& dir, std::string* error,
                                           bool readOnly = false) {
    return sim::Rack::open(dir, toolTiming(), toolClock(), error, readOnly);
}

}  // namespace vjxsim
