// The environment through which `vjxsim run` hands the rack and its settings
// to the simulated access library in the command it runs.
#pragma once

namespace sim {
namespace backend {

constexpr const char* kEnvRack = "VJXSIM_RACK";             // rack directory
constexpr const char* kEnvTiming = "VJXSIM_TIMING";         // instant (default), typical (datasheet) or max
constexpr const char* kEnvTrace = "VJXSIM_TRACE";           // bus trace file, appended
constexpr const char* kEnvTraceOnly = "VJXSIM_TRACE_ONLY";  // kinds of access traced
constexpr const char* kEnvStats = "VJXSIM_STATS";           // access counts (JSON) written at exit
constexpr const char* kEnvClock = "VJXSIM_CLOCK";           // "virtual": the program runs on virtual time

}  // namespace backend
}  // namespace sim
