// The kernel driver's seam (driver/windows/KernelPort.h) answered by the
// test: whether the device opens, the driver's version, and a record of
// every request.
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
    bool answer = true;  // requests reach the driver and get a status
    uint32_t version = 1190;
    uint32_t cards = 0;  // functions a bus scan reports
    std::vector<Request> requests;
};

State& state();

}  // namespace kernel
