// The PEX 8111 PCIe-to-PCI bridge in front of a PCIe card: a type-1
// configuration header whose secondary bus is the card's bus, its registers
// at 0x1000 and up in memory space 0 (EECTL 0x1004, GPIOCTL 0x1020), and the
// same registers reached through MAININDEX/MAINDATA in configuration space.
// Without address space (the slow set-up) only the indirect way remains.
#pragma once

#include <cstdint>
#include <map>

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
};

}  // namespace sim
