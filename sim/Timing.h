// How long the simulated parts and the bus take, in three profiles:
//   instant  every time zero (tests of logic only),
//   typical  the parts' typical data-sheet figures ("datasheet" is another
//            name for it),
//   max      the data-sheet maximum of every figure that has one.
// sim/README.md lists every figure with the data sheet it comes from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Timing {
    std::string name = "instant";

    // The bus, in nanoseconds: a register read is a non-posted transaction
    // (the CPU waits for the completion), a register write is posted.
    uint64_t readPciNs = 0;    // register read of a PCI card
    uint64_t readPcieNs = 0;   // register read through the PEX 8111
    uint64_t writeNs = 0;      // posted register write
    uint64_t configNs = 0;     // one configuration-space access
    uint64_t eectlByteUs = 0;  // PEX 8111 shifting one EEPROM byte

    uint64_t eepromWriteUs = 0;     // Microwire EEPROM: WRITE or ERASE cycle
    uint64_t eepromWriteAllUs = 0;  // Microwire EEPROM: WRAL or ERAL cycle
    uint64_t spiEepromWriteUs = 0;  // 25xx EEPROM write cycle

    uint64_t epcsPageUs = 0;            // EPCS page program
    uint64_t epcsSectorEraseUs = 0;     // EPCS sector erase
    uint64_t epcsBulkEraseEpcs1Us = 0;  // EPCS1 bulk erase
    uint64_t epcsBulkEraseEpcs4Us = 0;  // EPCS4 bulk erase
    uint64_t fpgaClockHz = 0;           // active-serial clock; 0 = the load takes no time

    // The PCIe-core cards' serial configuration flash.
    uint64_t flashPageUs = 0;           // page program (tPP)
    uint64_t flashBlockEraseUs = 0;     // 64 KiB block erase (tBE)
    uint64_t flashChipEraseUs = 0;      // chip erase (tCE)
    uint64_t flashRegisterWriteUs = 0;  // non-volatile register write (tW)

    uint64_t mcuChipEraseUs = 0;   // boot loader: full chip erase
    uint64_t mcuRecordUs = 0;      // boot loader: programming one record (one flash page)
    uint64_t mcuBootConfigUs = 0;  // boot loader: writing BSB or BLJB
    uint64_t mcuTurnaroundUs = 0;  // boot loader: a record answered without flash work
    uint64_t mcuResetUs = 0;       // microcontroller start-up after reset
    bool wireTime = false;         // bytes take their time on the serial link

    static Timing instant();
    static Timing typical();
    static Timing max();
    // "instant", "typical", "max" or "datasheet" (typical); false for an
    // unknown name.
    static bool byName(const std::string& name, Timing& out);
    static const std::vector<std::string>& names();  // every accepted name
    static std::string namesText();                  // "instant, typical, max, datasheet"

    // EPCS bulk erase of a part with that silicon ID (EPCS1, else EPCS4).
    uint64_t bulkEraseUs(uint8_t siliconId) const;
    // The FPGA reading `bytes` of configuration at the active-serial clock.
    uint64_t fpgaLoadUs(uint64_t bytes) const;
};

// Microseconds one byte takes on an asynchronous link (start, 8 data, stop).
inline uint64_t byteTimeUs(unsigned baud) {
    return baud ? (10ull * 1000000ull + baud - 1) / baud : 0;
}

}  // namespace sim
