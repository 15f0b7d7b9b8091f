// How long the simulated parts take. "instant" makes every busy time zero
// (tests); "datasheet" uses typical datasheet figures (benchmarks, demos).
#pragma once

#include <cstdint>
#include <string>

namespace sim {

struct Timing {
    std::string name = "instant";
    uint64_t busAccessUs = 0;       // one register or configuration access
    uint64_t eepromWriteUs = 0;     // Microwire EEPROM self-timed write
    uint64_t spiEepromWriteUs = 0;  // 25xx EEPROM write cycle
    uint64_t eectlByteUs = 0;       // PEX 8111 shifting one EEPROM byte
    uint64_t epcsPageUs = 0;        // EPCS page program
    uint64_t epcsEraseEpcs1Us = 0;  // EPCS1 bulk erase
    uint64_t epcsEraseEpcs4Us = 0;  // EPCS4 bulk erase
    uint64_t fpgaConfigUs = 0;      // FPGA loading its configuration
    uint64_t mcuChipEraseUs = 0;    // boot loader chip erase
    uint64_t mcuRecordUs = 0;       // boot loader programming one record
    uint64_t mcuBootConfigUs = 0;   // boot loader writing BSB or BLJB
    uint64_t mcuResetUs = 0;        // microcontroller start-up after reset
    bool wireTime = false;          // bytes take their time on the link

    static Timing instant();
    static Timing datasheet();
    // "instant" or "datasheet"; false for an unknown name.
    static bool byName(const std::string& name, Timing& out);
};

// Microseconds one byte takes on an asynchronous link (start, 8 data, stop).
inline uint64_t byteTimeUs(unsigned baud) {
    return baud ? (10ull * 1000000ull + baud - 1) / baud : 0;
}

}  // namespace sim
