// The PEX 8111 above a PCIe card.
#include "PciBridge.h"

CPciBridge::CPciBridge() {}
CPciBridge::~CPciBridge() {}
int CPciBridge::Open(uint32_t, uint32_t, const WD_PCI_SLOT*) { return 0; }
void CPciBridge::Close() {}
uint32_t CPciBridge::ReadEECTL() { return 0; }
void CPciBridge::WriteEECTL(uint32_t) {}
uint32_t CPciBridge::ReadGPIOCTL(int) { return m_gpioctl; }
void CPciBridge::WriteGPIOCTL(uint32_t value) { m_gpioctl = value; }
uint32_t CPciBridge::ReadID() { return 0; }
uint32_t CPciBridge::ReadCLASS() { return 0; }
uint32_t CPciBridge::ReadPRIMBUSNUM() { return 0; }
uint32_t CPciBridge::ReadSECBUSNUM() { return 0; }
uint32_t CPciBridge::ReadBytes(uint32_t, uint32_t) { return 0; }
void CPciBridge::WriteBytes(uint32_t, uint32_t, uint32_t) {}
uint32_t CPciBridge::ReadMAININDEX() { return m_mainIndex; }
void CPciBridge::WriteMAININDEX(uint32_t value) { m_mainIndex = value; }
uint32_t CPciBridge::ReadMAINDATA(uint32_t) { return 0; }
void CPciBridge::WriteMAINDATA(uint32_t, uint32_t) {}
uint32_t CPciBridge::ReadBytesLCR(uint32_t, uint32_t) { return 0; }
void CPciBridge::WriteBytesLCR(uint32_t, uint32_t, uint32_t) {}
