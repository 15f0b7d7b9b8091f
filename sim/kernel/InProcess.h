// The simulated kernel driver inside a test program: the test binds a rack it
// made (on the virtual clock), and the seam's calls (driver/windows/
// KernelPort.h) reach that rack. Without a bound rack the driver takes the
// rack from the environment that `vjxsim run` sets, as in the program for
// simulated cards.
#pragma once

#include <vector>

#include "KernelDriver.h"

namespace sim {
class Rack;
namespace kernel {

// Binds `rack` (nullptr unbinds, and lets go of a rack the driver took from
// the environment, saving it). The driver starts afresh: no device open, no
// card registered, no debug message kept.
void bind(Rack* rack);

// The messages the program sent to the driver's debug monitor.
std::vector<DebugMessage> debugMessages();

// Process tokens the program holds open now.
size_t openTokens();

// Cards registered now (a program that ends leaves none behind).
size_t registrations();

// The device the driver creates: "\\.\" followed by this name.
constexpr const char* kDeviceName = "merix6";

}  // namespace kernel
}  // namespace sim
