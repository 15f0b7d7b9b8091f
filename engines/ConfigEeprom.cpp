// Configuration EEPROM of the PCI bridge (Microwire, 16-bit words).
#include "../card/VjxPci.h"

void CVjxPci::eeCs(int) {}
void CVjxPci::eeSk(int) {}
void CVjxPci::eeDi(int) {}
int CVjxPci::eeDo() { return 1; }
void CVjxPci::eeDoEnable(int) {}
void CVjxPci::eeEnable(int) {}
int CVjxPci::eeTest() { return 0; }
int CVjxPci::eeInit() { return 0; }
void CVjxPci::eeStart() {}
void CVjxPci::eeClock() {}
void CVjxPci::eeDiBit(int) {}
int CVjxPci::eeDoBit() { return 1; }
int CVjxPci::eeDiByte(unsigned char) { return 0; }
int CVjxPci::eeDoByte() { return 0xFF; }
int CVjxPci::eeAddress(int, int, int) { return 0; }
void CVjxPci::eeCmd(int, int, int) {}
void CVjxPci::eeCmdRead(int, int) {}
void CVjxPci::eeCmdWrite(int, int) {}
void CVjxPci::eeCmdWen(int) {}
void CVjxPci::eeCmdWds(int) {}
int CVjxPci::eeWaitReady() { return 0; }
int CVjxPci::writeEeprom(int) { return 0; }
int CVjxPci::readEeprom(int) { return 0; }
int CVjxPci::compareEeprom() { return 0; }
int CVjxPci::ProgramEeprom(CLogWindow*) { return 0; }
