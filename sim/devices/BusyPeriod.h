// A self-timed operation a part is running (an EEPROM write cycle, an EPCS
// erase or page program, the microcontroller programming its flash, the FPGA
// loading): a value with the time it ends, so that the rack can keep it
// beyond the process that started it.
#pragma once

#include <cstdint>

namespace sim {

struct BusyPeriod {
    uint64_t endUs = 0;    // busy while now < endUs
    bool forever = false;  // a fault: the operation never ends

    bool at(uint64_t nowUs) const { return forever || nowUs < endUs; }
    static BusyPeriod until(uint64_t endUs) { return BusyPeriod{endUs, false}; }
    static BusyPeriod never() { return BusyPeriod{0, true}; }
    bool operator==(const BusyPeriod& o) const { return endUs == o.endUs && forever == o.forever; }
    bool operator!=(const BusyPeriod& o) const { return !(*this == o); }
};

}  // namespace sim
