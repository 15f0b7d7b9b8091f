// The PEX 8111 above a PCIe card. Its EEPROM control and GPIO control
// registers sit at 0x1000 and up in its memory space 0; without that space
// they are reached through the main-index/main-data pair of its
// configuration space, one index write and one data access per register.
#include "PciBridge.h"

#include <cstring>

#include "../Source/pci_lib.h"
#include "../chips/PciConfig.h"
#include "../chips/Pex8111.h"

namespace {

bool SameSlot(const WD_PCI_SLOT& a, const WD_PCI_SLOT& b) {
    return a.dwBus == b.dwBus && a.dwSlot == b.dwSlot && a.dwFunction == b.dwFunction;
}

// The registers are memory-mapped when the device has an active space 0.
bool HasRegisterSpace(WDC_DEVICE_HANDLE device) {
    return device && VJX_PCI6_GetNumAddrSpaces(device) > 0 && WDC_AddrSpaceIsActive(device, 0) != 0;
}

}  // namespace

CPciBridge::CPciBridge() {}

CPciBridge::~CPciBridge() {
    if (m_device) Close();
    m_open = 0;
}

int CPciBridge::Open(uint32_t vendor, uint32_t device, const WD_PCI_SLOT* cardSlot) {
    if (m_device) Close();
    if (!cardSlot || !PCI_Get_WD_handle(&m_driver)) return 0;

    WD_PCI_SCAN_CARDS scan;
    std::memset(&scan, 0, sizeof scan);
    scan.searchId.dwVendorId = vendor;
    scan.searchId.dwDeviceId = device;
    if (WD_PciScanCards(m_driver, &scan) != WD_STATUS_SUCCESS || scan.dwCards == 0) {
        VJX_PCI_ERR("No PCIe bridge found above the card on bus %u\n",
                    static_cast<unsigned>(cardSlot->dwBus));
        return 0;
    }

    // The wanted bridge sits on its own bus (primary) and leads to the
    // card's bus (secondary). The card's own function is never its bridge,
    // however its configuration space reads.
    bool found = false;
    const DWORD count = scan.dwCards < WD_PCI_CARDS ? scan.dwCards : WD_PCI_CARDS;
    for (DWORD i = 0; i < count && !found; ++i) {
        const WD_PCI_SLOT& slot = scan.cardSlot[i];
        if (SameSlot(slot, *cardSlot)) continue;
        m_slot = slot;
        m_class = ReadCLASS();
        if (m_class != pcicfg::CLASS_BRIDGE) continue;
        found = ReadPRIMBUSNUM() == slot.dwBus && ReadSECBUSNUM() == cardSlot->dwBus;
    }
    if (!found) {
        VJX_PCI_ERR("No PCIe bridge found above the card on bus %u\n",
                    static_cast<unsigned>(cardSlot->dwBus));
        return 0;
    }

    m_id = ReadID();
    m_open = 1;
    m_device = DeviceOpen(&m_slot);
    if (!m_device) {
        m_open = 0;
        return 0;
    }
    m_mainIndex = ReadMAININDEX();
    m_memoryMapped = HasRegisterSpace(m_device) ? 1 : 0;
    m_gpioctl = ReadGPIOCTL(1);
    return 1;
}

void CPciBridge::Close() {
    DeviceClose(m_device);
    m_device = nullptr;
    m_open = 0;
    m_memoryMapped = 0;
}

uint32_t CPciBridge::ReadEECTL() {
    if (m_memoryMapped) return VJX_PCI6_ReadEECTL_8111(m_device);
    return ReadBytesLCR(pex8111::EECTL, 4);
}

void CPciBridge::WriteEECTL(uint32_t value) {
    if (m_memoryMapped)
        VJX_PCI6_WriteEECTL_8111(m_device, value);
    else
        WriteBytesLCR(pex8111::EECTL, 4, value);
}

uint32_t CPciBridge::ReadGPIOCTL(int refresh) {
    if (!refresh) return m_gpioctl;
    if (m_memoryMapped && !HasRegisterSpace(m_device)) m_memoryMapped = 0;
    m_gpioctl = m_memoryMapped ? VJX_PCI6_ReadGPIOCTL_8111(m_device) : ReadBytesLCR(pex8111::GPIOCTL, 4);
    return m_gpioctl;
}

void CPciBridge::WriteGPIOCTL(uint32_t value) {
    if (value == m_gpioctl) return;
    if (m_memoryMapped)
        VJX_PCI6_WriteGPIOCTL_8111(m_device, value);
    else
        WriteBytesLCR(pex8111::GPIOCTL, 4, value);
    m_gpioctl = value;
}

uint32_t CPciBridge::ReadID() {
    return ReadBytes(pcicfg::ID, 4);
}

uint32_t CPciBridge::ReadCLASS() {
    return ReadBytes(pcicfg::CLASS, 1);
}

uint32_t CPciBridge::ReadPRIMBUSNUM() {
    return ReadBytes(pcicfg::PRIMARY_BUS, 1);
}

uint32_t CPciBridge::ReadSECBUSNUM() {
    return ReadBytes(pcicfg::SECONDARY_BUS, 1);
}

uint32_t CPciBridge::ReadBytes(uint32_t offset, uint32_t count) {
    return PCI_ReadBytes(m_driver, m_slot, offset, count);
}

void CPciBridge::WriteBytes(uint32_t offset, uint32_t count, uint32_t value) {
    PCI_WriteBytes(m_driver, m_slot, offset, count, value);
}

uint32_t CPciBridge::ReadMAININDEX() {
    return ReadBytes(pex8111::CFG_MAININDEX, 4);
}

// The copy spares the index write when the register already holds the value.
void CPciBridge::WriteMAININDEX(uint32_t value) {
    if (value == m_mainIndex) return;
    WriteBytes(pex8111::CFG_MAININDEX, 4, value);
    m_mainIndex = value;
}

uint32_t CPciBridge::ReadMAINDATA(uint32_t count) {
    return ReadBytes(pex8111::CFG_MAINDATA, count);
}

void CPciBridge::WriteMAINDATA(uint32_t count, uint32_t value) {
    WriteBytes(pex8111::CFG_MAINDATA, count, value);
}

uint32_t CPciBridge::ReadBytesLCR(uint32_t offset, uint32_t count) {
    WriteMAININDEX(offset - pex8111::REGISTER_BASE);
    return ReadMAINDATA(count);
}

void CPciBridge::WriteBytesLCR(uint32_t offset, uint32_t count, uint32_t value) {
    WriteMAININDEX(offset - pex8111::REGISTER_BASE);
    WriteMAINDATA(count, value);
}
