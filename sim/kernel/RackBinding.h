// Where the simulated kernel driver's rack comes from: a rack a test bound,
// or the rack `vjxsim run` names in the environment of the program for
// simulated cards (read once, saved when the program ends). A rack that can
// no longer keep what happens on its cards ends the program with the
// simulator's exit status, as the simulated access library does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/Clock.h"
#include "sim/Rack.h"

namespace sim {
namespace kernel {

class RackBinding {
public:
    RackBinding() = default;
    ~RackBinding();  // saves the environment's rack and writes the access counts

    void bind(Rack* rack);
    // The rack, reading it from the environment at the first use; false
    // (with the reason on standard error, once) when there is none.
    bool ensure();
    Rack* rack() const { return m_rack; }

    // After every access: the environment's rack that failed ends the program.
    void checkIntact();
    // Every card powered down, the rack saved, the program ended.
    [[noreturn]] void shutDown(uint32_t flags);
    // A load or store with no driver behind it: an access violation.
    [[noreturn]] static void noMemory(uint64_t address);

private:
    bool fromEnvironment(std::string* error);
    [[noreturn]] void stop(const std::string& why);
    void finish();

    Rack* m_rack = nullptr;
    std::unique_ptr<Clock> m_clock;
    std::unique_ptr<Rack> m_owned;
    std::string m_statsPath;
    bool m_tried = false;
};

}  // namespace kernel
}  // namespace sim
