// Register accessors of the card object. The bridge-chip registers exist in
// one variant per PLX chip and are picked by bridge type: a PCI 9050 has none
// the program uses (reads answer 0, writes are dropped); the card registers
// in the FPGA are the same on every card.
#include "../Source/pci_lib.h"
#include "../chips/PlxPci90xx.h"
#include "../chips/VjxFpga.h"
#include "VjxPci.h"

uint32_t CVjxPci::ReadCNTRL() {
    switch (m_bridgeType) {
        case BRIDGE_9030:
            return VJX_PCI_ReadCNTRL_9030(m_pci);
        case BRIDGE_9056:
            return VJX_PCI_ReadCNTRL_9056(m_pci);
        default:
            return 0;
    }
}

void CVjxPci::WriteCNTRL(uint32_t value) {
    switch (m_bridgeType) {
        case BRIDGE_9030:
            VJX_PCI_WriteCNTRL_9030(m_pci, value);
            break;
        case BRIDGE_9056:
            VJX_PCI_WriteCNTRL_9056(m_pci, value);
            break;
        default:
            break;
    }
}

uint32_t CVjxPci::ReadINTCSR() {
    switch (m_bridgeType) {
        case BRIDGE_9030:
            return VJX_PCI_ReadINTCSR_9030(m_pci);
        case BRIDGE_9056:
            return VJX_PCI_ReadINTCSR_9056(m_pci);
        default:
            return 0;
    }
}

void CVjxPci::WriteINTCSR(uint32_t value) {
    switch (m_bridgeType) {
        case BRIDGE_9030:
            VJX_PCI_WriteINTCSR_9030(m_pci, value);
            break;
        case BRIDGE_9056:
            VJX_PCI_WriteINTCSR_9056(m_pci, value);
            break;
        default:
            break;
    }
}

uint32_t CVjxPci::ReadGPIOC() {
    return m_bridgeType == BRIDGE_9030 ? VJX_PCI_ReadGPIOC_9030(m_pci) : 0;
}

void CVjxPci::WriteGPIOC(uint32_t value) {
    if (m_bridgeType == BRIDGE_9030) VJX_PCI_WriteGPIOC_9030(m_pci, value);
}

void CVjxPci::WriteCFG(uint8_t value) {
    VJX_PCI_WriteCFG(m_pci, value);
}

uint8_t CVjxPci::ReadVERSION() {
    return VJX_PCI_ReadVERSION(m_pci);
}

uint8_t CVjxPci::ReadIRQF() {
    return VJX_PCI_ReadIRQF(m_pci);
}

void CVjxPci::WriteTRCON(uint8_t value) {
    VJX_PCI_WriteTRCON(m_pci, value);
}

// An index outside the ring (a misbehaving FPGA, or a failed read) counts
// as 0, so the caller never indexes past the ring.
uint8_t CVjxPci::ReadRPTR() {
    const uint8_t value = VJX_PCI_ReadRPTR(m_pci);
    return value < fpga::kRingSize ? value : 0;
}

void CVjxPci::WriteTBUF(uint8_t value) {
    VJX_PCI_WriteTBUF(m_pci, value);
}

void CVjxPci::WriteRAMA(uint8_t value) {
    VJX_PCI_WriteRAMA(m_pci, value);
}

uint8_t CVjxPci::ReadRAMD() {
    return VJX_PCI_ReadRAMD(m_pci);
}

void CVjxPci::WriteRAMD(uint8_t value) {
    VJX_PCI_WriteRAMD(m_pci, value);
}

void CVjxPci::WriteTSTART(uint8_t value) {
    VJX_PCI_WriteTSTART(m_pci, value);
}

#if VJX_WINDOWS_PROGRAM
uint8_t CVjxPci::ReadSPICTL() {
    return VJX_PCI_ReadSPICTL(m_pci);
}

void CVjxPci::WriteSPICTL(uint8_t value) {
    VJX_PCI_WriteSPICTL(m_pci, value);
}

void CVjxPci::WriteINTCTL(uint8_t value) {
    VJX_PCI_WriteINTCTL(m_pci, value);
}
#endif

// A PCIe-core card (bridge type 4, Windows program only) has no PLX local
// interrupt in use: its FPGA's own INTCTL is switched off instead.
void CVjxPci::Linti1Disable() {
    switch (m_bridgeType) {
        case BRIDGE_9030:
            WriteINTCSR(plx::pci9030::INTCSR_LINTI1_OFF);
            break;
        case BRIDGE_9056:
            WriteINTCSR(plx::pci9056::INTCSR_LINTI1_OFF);
            break;
#if VJX_WINDOWS_PROGRAM
        case BRIDGE_9056_CORE:
            WriteINTCTL(fpga::INTCTL_OFF);
            break;
#endif
        default:
            break;
    }
}

void CVjxPci::Linti1Ack() {
    if (m_bridgeType == BRIDGE_9030) WriteINTCSR(plx::pci9030::INTCSR_LINTI1_ACK);
}
