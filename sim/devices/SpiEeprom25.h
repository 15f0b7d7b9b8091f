// A 25xx-class SPI serial EEPROM with 16-bit addressing and 32-byte pages,
// behind the PEX 8111's EEPROM control register. Modelled byte-wise: the
// bridge shifts whole bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "../NvRegion.h"
#include "../Timing.h"

namespace sim {

struct SpiEepromFaults {
    bool dead = false;  // answers nothing (MISO floats high), stores nothing
};

class SpiEeprom25 {
public:
    static constexpr unsigned kPageSize = 32;
    SpiEeprom25(NvRegion& bytes, const Timing& timing);
    void setFaults(const SpiEepromFaults& faults) { m_faults = faults; }

    // Chip select (true = selected). Deselecting after a WRITE with data
    // starts the self-timed write cycle; after WREN it sets the latch.
    void select(bool selected, uint64_t nowUs);
    // One byte full duplex while selected; answers the byte on MISO (0xFF
    // when deselected, dead, or reading during a write cycle).
    uint8_t exchange(uint8_t mosi, uint64_t nowUs);

    bool writeInProgress(uint64_t nowUs) const;

    // When the write cycle in progress ends, for the rack to keep across
    // processes.
    uint64_t busyUntil() const { return m_busyUntil; }
    void restoreBusy(uint64_t untilUs) { m_busyUntil = untilUs; }

private:
    enum class State : uint8_t { Deselected, Opcode, Address, Data, Ignore };

    bool busy(uint64_t nowUs) const { return nowUs < m_busyUntil; }
    uint8_t status(uint64_t nowUs) const;
    void finishCommand(uint64_t nowUs);

    NvRegion& m_mem;
    const Timing& m_timing;
    SpiEepromFaults m_faults;
    bool m_wel = false;
    uint64_t m_busyUntil = 0;
    State m_state = State::Deselected;
    uint8_t m_cmd = 0;
    unsigned m_address = 0;
    int m_addrBytes = 0;
    // Page buffer of a WRITE: the data bytes latched so far, by offset in
    // the page, and which offsets were given.
    uint8_t m_page[kPageSize] = {};
    bool m_given[kPageSize] = {};
    bool m_anyData = false;
};

}  // namespace sim
