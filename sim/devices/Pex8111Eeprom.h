// The PEX 8111's EEPROM control register (EECTL, 0x1004) and the SPI EEPROM
// behind it: a write with bit 16 shifts bits 0-7 out, bit 17 shifts a byte
// into bits 8-15, bit 18 holds chip select, bit 19 reads busy while a byte
// is being shifted. A write that arrives while a byte is still being shifted
// is lost: the shifter cannot be interrupted, so the register ignores it.
#pragma once

#include <cstdint>

#include "../Timing.h"
#include "SpiEeprom25.h"

namespace sim {

class Pex8111Eectl {
public:
    Pex8111Eectl(SpiEeprom25& eeprom, const Timing& timing);
    void setStuckBusy(bool stuck) { m_stuck = stuck; }
    uint32_t read(uint64_t nowUs);
    void write(uint32_t value, uint64_t nowUs);

private:
    bool busy(uint64_t nowUs) const { return m_stuck || nowUs < m_busyUntil; }

    SpiEeprom25& m_eeprom;
    const Timing& m_timing;
    bool m_stuck = false;
    uint32_t m_value = 0;     // bits 0-7 and 18 as last written
    uint8_t m_received = 0;   // bits 8-15 once the shift in progress is over
    uint8_t m_shown = 0;      // bits 8-15 while it runs
    uint32_t m_starting = 0;  // start bits of the transfer in progress
    uint64_t m_busyUntil = 0;
};

}  // namespace sim
