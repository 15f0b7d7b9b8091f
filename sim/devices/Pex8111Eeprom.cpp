// The PEX 8111's EEPROM shifter. A write with bit 16 shifts the byte in bits
// 0-7 out to the EEPROM; a write with bit 17 shifts a byte in (MOSI held low
// while it does) and shows it in bits 8-15 once the shift is over; with both
// bits one full-duplex byte moves. Bit 18 is the EEPROM's chip select, taken
// before the shift begins and released by any write that clears it. Bit 19
// reads 1 while the shift runs; the start bits read back set until then.
// Other bits read 0.
#include "Pex8111Eeprom.h"

#include "../hw/Pex8111.h"

namespace sim {

Pex8111Eectl::Pex8111Eectl(SpiEeprom25& eeprom, const Timing& timing) : m_eeprom(eeprom), m_timing(timing) {}

uint32_t Pex8111Eectl::read(uint64_t nowUs) {
    if (busy(nowUs))
        return m_value | uint32_t(m_shown) << pex::kEectlDataInShift | pex::kEectlBusy | m_starting;
    return m_value | uint32_t(m_received) << pex::kEectlDataInShift;
}

void Pex8111Eectl::write(uint32_t value, uint64_t nowUs) {
    if (busy(nowUs)) return;
    m_value = value & (pex::kEectlDataOut | pex::kEectlChipSelect);
    m_starting = 0;
    const bool selected = (value & pex::kEectlChipSelect) != 0;
    m_eeprom.select(selected, nowUs);
    const uint32_t start = value & (pex::kEectlStartWrite | pex::kEectlStartRead);
    if (!start) return;
    const uint8_t out = (start & pex::kEectlStartWrite) ? uint8_t(value & pex::kEectlDataOut) : 0x00;
    // Without chip select the EEPROM does not listen; MISO floats high.
    const uint8_t in = selected ? m_eeprom.exchange(out, nowUs) : 0xFF;
    m_shown = m_received;
    if (start & pex::kEectlStartRead) m_received = in;
    m_starting = start;
    m_busyUntil = nowUs + m_timing.eectlByteUs;
}

}  // namespace sim
