#include "Timing.h"

namespace sim {

Timing Timing::instant() {
    return Timing();
}

// Typical figures from the parts' data sheets.
Timing Timing::datasheet() {
    Timing t;
    t.name = "datasheet";
    t.busAccessUs = 1;             // one PCI read or write through the driver
    t.eepromWriteUs = 5000;        // 93C56 self-timed write, tWP
    t.spiEepromWriteUs = 5000;     // 25xx write cycle, tWC
    t.eectlByteUs = 4;             // PEX 8111 shifting 8 bits at about 2 MHz
    t.epcsPageUs = 1500;           // EPCS page program, typical
    t.epcsEraseEpcs1Us = 3000000;  // EPCS1 bulk erase, typical
    t.epcsEraseEpcs4Us = 5000000;  // EPCS4 bulk erase, typical
    t.fpgaConfigUs = 40000;        // FPGA reading its configuration at 20 MHz
    t.mcuChipEraseUs = 2000000;    // boot loader full chip erase
    t.mcuRecordUs = 4000;          // boot loader programming one record (page write)
    t.mcuBootConfigUs = 3000;      // boot loader writing BSB or BLJB
    t.mcuResetUs = 20000;          // oscillator start-up and reset sequence
    t.wireTime = true;
    return t;
}

bool Timing::byName(const std::string& name, Timing& out) {
    if (name == "instant") {
        out = instant();
        return true;
    }
    if (name == "datasheet") {
        out = datasheet();
        return true;
    }
    return false;
}

}  // namespace sim
