// The card's own PCI function: a PLX PCI 9050, 9030 or 9056. Address space 0
// (memory) and 1 (I/O) hold the chip's local configuration registers, space 2
// the FPGA's registers on the local bus. The chip's serial-EEPROM pins drive
// the configuration EEPROM; its user pins (PCI 9030 GPIOC, PCI 9056 USERo
// and USERi) reach the FPGA configuration lines.
#pragma once

#include <cstdint>
#include <vector>

#include "BoardWiring.h"
#include "CardModels.h"
#include "PciFunction.h"
#include "devices/FpgaBlock.h"
#include "devices/Microcontroller.h"
#include "devices/MicrowireEeprom.h"

namespace sim {

class PlxFunction : public PciFunction {
public:
    PlxFunction(Chip chip, MicrowireEeprom& eeprom, FpgaBlock& fpga, Mailbox& mailbox, BoardWiring& wiring);

    Kind kind() const override { return Kind::Card; }
    Chip chip() const { return m_chip; }
    uint64_t spaceLength(unsigned space) const override;
    uint32_t read(unsigned space, unsigned offset, unsigned width, uint64_t nowUs) override;
    void write(unsigned space, unsigned offset, unsigned width, uint32_t value, uint64_t nowUs) override;

    // What the chip loaded from its EEPROM at power-up.
    void setIdentity(const Identity& id);
    // Where the function's address spaces sit in the machine's map.
    void setBars(uint32_t memory0, uint32_t io1, uint32_t memory2);
    // Memory and I/O decoding in the command register, as the system's
    // enumeration leaves it (on) or a function that lost its set-up (off).
    void setDecoding(bool on);

    // Power-up values of the local registers.
    void resetRegisters();
    std::vector<uint32_t> registers() const { return m_regs; }
    void restoreRegisters(const std::vector<uint32_t>& values);

    // The FPGA lines this chip drives.
    void contributeLines(LineDrive& drive) const;

private:
    uint32_t readLocal(unsigned offset, uint64_t nowUs);
    void writeLocal(unsigned offset, uint32_t value, uint64_t nowUs);
    uint8_t readCard(unsigned offset, uint64_t nowUs);
    void writeCard(unsigned offset, uint8_t value, uint64_t nowUs);
    unsigned cntrlOffset() const;
    bool noiseBit();

    Chip m_chip;
    MicrowireEeprom& m_eeprom;
    FpgaBlock& m_fpga;
    Mailbox& m_mailbox;
    BoardWiring& m_wiring;
    std::vector<uint32_t> m_regs;
    uint8_t m_intctl = 0;
    uint32_t m_noise = 0xACE1u;  // what an undriven input pin happens to read
};

}  // namespace sim
