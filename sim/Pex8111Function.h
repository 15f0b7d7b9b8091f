// The PEX 8111 PCIe-to-PCI bridge in front of a PCIe card: a type-1
// configuration header whose secondary bus is the card's bus, its registers
// at 0x1000 and up in memory space 0 (EECTL 0x1004, GPIOCTL 0x1020), and the
// same registers reached through MAININDEX/MAINDATA in configuration space.
// Without address space (the slow set-up) only the indirect way remains.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "BoardWiring.h"
#include "PciFunction.h"
#include "devices/Pex8111Eeprom.h"

namespace sim {

class Pex8111Function : public PciFunction {
public:
    Pex8111Function(Pex8111Eectl& eectl, BoardWiring& wiring, bool hasAddressSpace);

    Kind kind() const override { return Kind::Bridge; }
    bool hasAddressSpace() const { return m_hasSpace; }
    uint64_t spaceLength(unsigned space) const override;
    uint32_t configRead(unsigned offset, unsigned width, uint64_t nowUs) override;
    void configWrite(unsigned offset, unsigned width, uint32_t value, uint64_t nowUs) override;
    uint32_t read(unsigned space, unsigned offset, unsigned width, uint64_t nowUs) override;
    void write(unsigned space, unsigned offset, unsigned width, uint32_t value, uint64_t nowUs) override;

    void setSecondaryBus(uint8_t bus);
    void setBar(uint32_t memory0);

    void resetRegisters();
    // Comes out of reset: every register at its default, then the EEPROM's
    // loads when the EEPROM begins with the signature. `eeprom` is what the
    // EEPROM answers (empty: nothing, as a dead or missing part reads all
    // ones). The bytes read are kept, so that a reopened rack comes up with
    // the same loads (restoreEepromLoad).
    void powerUp(const std::vector<uint8_t>& eeprom);
    void restoreEepromLoad(const std::vector<uint8_t>& loaded) { powerUp(loaded); }
    // What the last power-up loaded.
    struct EepromLoad {
        bool loaded = false;         // the signature was there
        uint8_t firstByte = 0xFF;    // what stood where the signature belongs
        unsigned registers = 0;      // register loads applied
        unsigned sharedBytes = 0;    // bytes of shared memory loaded
        std::vector<uint8_t> bytes;  // the EEPROM bytes the bridge read
    };
    const EepromLoad& eepromLoad() const { return m_load; }
    // One line for `vjxsim show`.
    std::string eepromLoadText() const;
    uint32_t gpioctl() const { return m_gpioctl; }
    uint32_t mainIndex() const { return m_config.get32(0x84); }
    void restoreRegisters(uint32_t gpioctl, uint32_t mainIndex);

    // The FPGA lines the GPIO pins drive.
    void contributeLines(LineDrive& drive) const;

private:
    void addressChanged() override;
    // Register at `offset` (0x1000 and up), 32 bits.
    uint32_t readRegister(unsigned offset, uint64_t nowUs);
    void writeRegister(unsigned offset, uint32_t value, uint64_t nowUs);
    unsigned indexedOffset() const;

    Pex8111Eectl& m_eectl;
    BoardWiring& m_wiring;
    bool m_hasSpace;
    uint32_t m_gpioctl = 0;
    std::map<unsigned, uint32_t> m_other;  // registers without a model: plain storage
    EepromLoad m_load;
};

}  // namespace sim
