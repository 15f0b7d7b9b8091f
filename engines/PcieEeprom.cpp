// EEPROM of the PEX 8111 PCIe bridge, reached through its EECTL register.
#include "../card/VjxPci.h"

int CPciBridge::EE_WaitIdle() { return -1; }
void CPciBridge::EE_Off() {}
void CPciBridge::EE_WriteByte(unsigned char) { m_eeFailed = true; }
int CPciBridge::EE_ReadByte() {
    m_eeFailed = true;
    return 0;
}
void CPciBridge::EE_WriteData(int, int, const unsigned char*) { m_eeFailed = true; }
void CPciBridge::EE_ReadData(int, int, unsigned char*) { m_eeFailed = true; }

int CVjxPci::writePcieEeprom() { return 1; }
int CVjxPci::readPcieEeprom() { return 1; }
int CVjxPci::comparePcieEeprom() { return 0; }
int CVjxPci::ProgramPcieEeprom(CLogWindow*) { return 0; }
