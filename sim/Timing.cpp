#include "Timing.h"

#include "hw/Spi25.h"

namespace sim {

Timing Timing::instant() {
    return Timing();
}

// Typical figures; sim/README.md names the data sheet of each.
Timing Timing::typical() {
    Timing t;
    t.name = "typical";
    t.readPciNs = 600;
    t.readPcieNs = 1000;
    t.writeNs = 100;
    t.configNs = 1500;
    t.eectlByteUs = 4;
    t.eepromWriteUs = 2000;
    t.eepromWriteAllUs = 4000;
    t.spiEepromWriteUs = 3000;
    t.epcsPageUs = 1500;
    t.epcsSectorEraseUs = 2000000;
    t.epcsBulkEraseEpcs1Us = 3000000;
    t.epcsBulkEraseEpcs4Us = 5000000;
    t.fpgaClockHz = 20000000;
    t.flashPageUs = 450;
    t.flashBlockEraseUs = 450000;
    t.flashChipEraseUs = 128 * 450000;
    t.flashRegisterWriteUs = 145000;
    t.mcuChipEraseUs = 2000000;
    t.mcuRecordUs = 4000;
    t.mcuBootConfigUs = 3000;
    t.mcuTurnaroundUs = 100;
    t.mcuResetUs = 20000;
    t.wireTime = true;
    return t;
}

// Data-sheet maxima; figures without a stated maximum keep their typical
// value (see sim/README.md).
Timing Timing::max() {
    Timing t = typical();
    t.name = "max";
    t.readPciNs = 1200;
    t.readPcieNs = 2000;
    t.writeNs = 250;
    t.configNs = 4000;
    t.eectlByteUs = 8;
    t.eepromWriteUs = 6000;
    t.eepromWriteAllUs = 15000;
    t.spiEepromWriteUs = 5000;
    t.epcsPageUs = 5000;
    t.epcsSectorEraseUs = 3000000;
    t.epcsBulkEraseEpcs1Us = 6000000;
    t.epcsBulkEraseEpcs4Us = 10000000;
    t.fpgaClockHz = 10000000;
    t.flashPageUs = 1350;
    t.flashBlockEraseUs = 1150000;
    t.flashChipEraseUs = 128 * 1150000;
    t.flashRegisterWriteUs = 750000;
    t.mcuChipEraseUs = 4000000;
    t.mcuRecordUs = 10000;
    t.mcuBootConfigUs = 10000;
    t.mcuTurnaroundUs = 1000;
    t.mcuResetUs = 50000;
    return t;
}

const std::vector<std::string>& Timing::names() {
    static const std::vector<std::string> kNames = {"instant", "typical", "max", "datasheet"};
    return kNames;
}

std::string Timing::namesText() {
    std::string text;
    for (const auto& n : names()) text += (text.empty() ? "" : ", ") + n;
    return text;
}

bool Timing::byName(const std::string& name, Timing& out) {
    if (name == "instant") {
        out = instant();
    } else if (name == "typical" || name == "datasheet") {
        out = typical();
    } else if (name == "max") {
        out = max();
    } else {
        return false;
    }
    return true;
}

uint64_t Timing::bulkEraseUs(uint8_t siliconId) const {
    return siliconId == spi25::kIdEpcs1 ? epcsBulkEraseEpcs1Us : epcsBulkEraseEpcs4Us;
}

uint64_t Timing::fpgaLoadUs(uint64_t bytes) const {
    if (fpgaClockHz == 0) return 0;
    // One bit per clock, rounded up to whole microseconds.
    return (bytes * 8 * 1000000 + fpgaClockHz - 1) / fpgaClockHz;
}

}  // namespace sim
