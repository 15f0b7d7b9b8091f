// The simulated access library inside a test program: the test binds a rack
// it made (on the virtual clock) and calls the library's functions, or the
// code under test does. Without a bound rack the library takes the rack from
// the environment, as the shared library does under `vjxsim run`.
#pragma once

namespace sim {
class Rack;
namespace backend {

// Binds `rack` (nullptr unbinds); closes every handle still open. The rack's
// runtime directory holds the process count and flash flag.
void bind(Rack* rack);

}  // namespace backend
}  // namespace sim
