// The FPGA configuration lines of a PCI 9030 or PCI 9056 card as a
// serial-memory port (engines/FpgaLines.cpp).
#pragma once

#include "../card/VjxPci.h"
#include "SpiPort.h"

class CFpgaLinePort : public SpiPort {
public:
    explicit CFpgaLinePort(CVjxPci& card) : m_card(card) {}
    void Select() override;
    void Deselect() override;
    void Send(uint8_t byte, SpiBitOrder order) override;
    uint8_t Receive(SpiBitOrder order) override;

private:
    CVjxPci& m_card;
};
