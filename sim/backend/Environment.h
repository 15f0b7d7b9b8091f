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
constexpr const char* kEnvStrict = "VJXSIM_STRICT";  // "1": the first rule a part sees broken ends the run
constexpr const char* kEnvAt = "VJXSIM_AT";          // events at chosen accesses (Moments.h)
// The Windows machine around the simulated kernel driver (KernelPort.cpp).
constexpr const char* kEnvWindows = "VJXSIM_WINDOWS";
// For a Windows program (`vjxsim run RACK -- wine PROGRAM`): the token of the
// rack's hold (WindowsHold.h), and "BOOT-ID NS": the machine's boot and how far
// its monotonic clock is ahead of its raw monotonic clock, which is what the
// program's performance counter reads under Wine.
constexpr const char* kEnvHold = "VJXSIM_HOLD";
constexpr const char* kEnvHostClock = "VJXSIM_HOST_CLOCK";

// Exit status of a program whose simulated machine could not go on: the
// rack could no longer keep what happened on its cards (a save failed, or
// the rack was removed while in use). The library says why on standard error.
constexpr int kExitRackFault = 70;

// Exit status of a program run strictly that broke a rule of a part (a
// pulse too short, a command to a busy part, ...). The library prints the
// rule's trace line on standard error.
constexpr int kExitRuleBroken = 71;

}  // namespace backend
}  // namespace sim
