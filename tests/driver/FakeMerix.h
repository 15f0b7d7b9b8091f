// A stand-in for libmerix32 in tests that need what the simulator does not
// do: library calls that fail on demand, and a count of the handles left
// open. Functions are described directly (configuration bytes, space
// lengths, register values), without any card behind them.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fakemerix {

struct Function {
    uint16_t deviceId = 0x9030;
    uint8_t bus = 1;
    uint8_t config[256] = {};
    uint64_t space0Length = 0;
    uint64_t space2Length = 0;
    // Register values by (space << 24 | offset).
    std::map<uint32_t, uint32_t> registers;

    void setConfig32(unsigned offset, uint32_t value);
    void setBar(unsigned bar, uint32_t value) { setConfig32(0x10 + 4 * bar, value); }
};

// Which call fails next, for one access number (0 = any).
enum class Call { Open, GetDeviceId, GetDeviceInfo, ConfigDump, Read, Write };

struct State {
    std::vector<Function> cards;       // cards 1.. (access numbers 0x1001..)
    std::vector<Function> bridges;     // PEX 8111 functions, numbered as the cards (deviceId 0 = none)
    std::set<int> openHandles;         // handles not closed yet
    std::map<Call, unsigned> failing;  // call -> access number (0 = every function)
    std::vector<std::string> writes;   // "space offset width value" of each register write
};

// A PLX card function of `device` on `bus` whose subsystem key is `key`,
// with two memory spaces and an I/O space as the cards have them.
Function MakeCard(uint16_t device, uint8_t bus, uint32_t key);

State& state();
void reset();

}  // namespace fakemerix
