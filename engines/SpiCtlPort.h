// The serial-flash port of PCIe-core cards: the FPGA's 8-bit SPICTL register,
// whose bits are the flash's clock, data and chip-select lines, driven one
// bit at a time (SPI mode 0). The port never reads the register back to
// change it: every write starts from a shadow of the value last written, as
// the data-in bit would otherwise be written back as an output bit.
#pragma once

#include <cstdint>

#include "SpiPort.h"

// The register the port drives; the card object gives its SPICTL accessors.
class SpiCtlRegister {
public:
    virtual ~SpiCtlRegister() = default;
    virtual uint8_t Read() = 0;
    virtual void Write(uint8_t value) = 0;
};

class CSpiCtlPort : public SpiPort {
public:
    // `shadow` is the card object's copy of the value last written.
    CSpiCtlPort(SpiCtlRegister& reg, uint8_t& shadow) : m_reg(reg), m_shadow(shadow) {}

    // Gives the host the flash: afterwards the port holds host access on,
    // the flash deselected and the clock low.
    void Init();
    // One byte out and one in at the same time, most significant bit first;
    // selects the flash first (a command stays selected until Deselect).
    uint8_t Transfer(uint8_t out);

    // Every transfer selects the flash itself.
    void Select() override {}
    void Deselect() override;
    void Send(uint8_t byte, SpiBitOrder order) override;
    uint8_t Receive(SpiBitOrder order) override;

private:
    void set(uint8_t bits, bool on);

    SpiCtlRegister& m_reg;
    uint8_t& m_shadow;
};
