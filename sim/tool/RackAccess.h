// How the tool opens racks: on the machine's clock, with the instant timing
// (the tool itself waits for no part).
#pragma once

#include <memory>
#include <string>

#include "libmerix32/registry.h"
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

// Holds a rack for a change as a program holds its cards: registered with
// the rack's access library and holding its flash flag, so that no program
// under `vjxsim run` drives the cards meanwhile (it is refused the lock), and
// a change is never made under a running program, which would lose it.
class RackHold {
public:
    explicit RackHold(const std::string& dir) : m_dir(dir), m_registry(dir + "/runtime") {}
    // False with a message when another process uses the rack.
    bool take(std::string* error) {
        std::string why;
        if (!m_registry.registerProcess(&why)) {
            *error = m_dir + ": " + why;
            return false;
        }
        if (m_registry.activeProcessCount() > 1 || !m_registry.setFlashActive(true, &why)) {
            *error = m_dir + ": in use by a running program; nothing changed (try again when it has ended)";
            return false;
        }
        return true;
    }

private:
    std::string m_dir;
    merix::Registry m_registry;
};

}  // namespace vjxsim
