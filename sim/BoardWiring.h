// How the bridge chips' pins reach the FPGA block on the board: the register
// models call back when a register that drives FPGA lines changed, and ask
// for the level of lines they read.
#pragma once

#include <cstdint>

#include "devices/FpgaBlock.h"

namespace sim {

class BoardWiring {
public:
    virtual ~BoardWiring() = default;
    virtual void pinsChanged(uint64_t nowUs) = 0;
    virtual bool lineLevel(int line, uint64_t nowUs) = 0;
};

}  // namespace sim
