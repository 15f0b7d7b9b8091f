// The seam below the Windows program (driver/windows/KernelPort.h) answered
// by the test: whether the device opens, the driver's version, a record of
// every request, the mapped memory, and what the configuration manager and
// the shutdown calls answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kernel {

struct Request {
    uint32_t code;
    uint32_t size;
    std::vector<unsigned char> record;
};

struct State {
    bool present = false;    // the device path opens
    std::string devicePath;  // path of the last open
    int opens = 0, closes = 0;
    uint32_t version = 1190;
    uint32_t cards = 0;  // functions a bus scan reports
    std::vector<Request> requests;
    // A request with this code is answered with this status.
    uint32_t scriptedCode = 0;
    uint32_t scriptedStatus = 0;
    // Loads and stores made at mapped addresses (loads answer all ones).
    std::vector<std::string> accesses;
    // Configuration manager and shutdown: the calls made, in order, and the
    // first one that fails (empty: none).
    std::vector<std::string> systemCalls;
    std::string failingCall;
    std::vector<std::string> alsoFailing;  // further calls that fail
};

constexpr uint64_t kMappedBase = 0x00007E0000000000ull;

State& state();

}  // namespace kernel
