// The 25xx-class SPI serial EEPROM behind the PEX 8111's EEPROM control
// register: 16-bit addresses, 32-byte pages, the write cycle replacing the
// bytes given. The command set is the common SPI memory's; the bridge shifts
// whole bytes.
#pragma once

#include <cstdint>

#include "../NvRegion.h"
#include "../Timing.h"
#include "SpiMemory.h"

namespace sim {

struct SpiEepromFaults {
    bool dead = false;  // answers nothing (MISO floats high), stores nothing
};

class SpiEeprom25 : public SpiMemory {
public:
    static constexpr unsigned kPageSize = 32;
    SpiEeprom25(NvRegion& bytes, const Timing& timing) : SpiMemory(bytes, SpiMemoryPart::eeprom25(timing)) {}
    void setFaults(const SpiEepromFaults& faults) {
        SpiMemoryFaults f;
        f.dead = faults.dead;
        SpiMemory::setFaults(f);
    }
    bool writeInProgress(uint64_t nowUs) const { return busy(nowUs); }
    void setRules(const Rules* rules) { SpiMemory::setRules(rules, rule::kEepromBusy); }
};

}  // namespace sim
