// Register accessors of the card object.
#include "VjxPci.h"

uint32_t CVjxPci::ReadCNTRL() { return 0; }
void CVjxPci::WriteCNTRL(uint32_t) {}
uint32_t CVjxPci::ReadINTCSR() { return 0; }
void CVjxPci::WriteINTCSR(uint32_t) {}
uint32_t CVjxPci::ReadGPIOC() { return 0; }
void CVjxPci::WriteGPIOC(uint32_t) {}
void CVjxPci::WriteCFG(uint8_t) {}
uint8_t CVjxPci::ReadVERSION() { return 0; }
uint8_t CVjxPci::ReadIRQF() { return 0; }
void CVjxPci::WriteTRCON(uint8_t) {}
uint8_t CVjxPci::ReadRPTR() { return 0; }
void CVjxPci::WriteTBUF(uint8_t) {}
void CVjxPci::WriteRAMA(uint8_t) {}
uint8_t CVjxPci::ReadRAMD() { return 0; }
void CVjxPci::WriteRAMD(uint8_t) {}
void CVjxPci::WriteTSTART(uint8_t) {}
void CVjxPci::Linti1Disable() {}
void CVjxPci::Linti1Ack() {}
