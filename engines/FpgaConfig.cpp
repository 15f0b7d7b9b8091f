// FPGA serial configuration device, bit-banged through bridge pins.
#include "../card/VjxPci.h"

void CVjxPci::EpcSelect(TFpga, int) {}
void CVjxPci::EpcDir(TFpga, int) {}
void CVjxPci::EpcData(TFpga, int) {}
int CVjxPci::EpcData(TFpga) { return 0; }
void CVjxPci::setFpgaInitPorts() {}
int CVjxPci::setFpgaResetConfig() { return 1; }
int CVjxPci::setFpgaConfig() { return 0; }
int CVjxPci::getFpgaConfig(int* ok) {
    if (ok) *ok = 0;
    return 1;
}
int CVjxPci::setEpcProgramMsb(int, int, unsigned char, unsigned char* in, int, int) {
    if (in) *in = 0;
    return 1;
}
int CVjxPci::setEpcProgramLsb(int, int, unsigned char, unsigned char* in, int, int) {
    if (in) *in = 0;
    return 1;
}
int CVjxPci::setEpcProgramBlockStart(unsigned long) { return 1; }
int CVjxPci::setEpcProgramBlockEnd() { return 1; }
int CVjxPci::setEpcProgramBlockLsb(unsigned long, const unsigned char*, unsigned int) { return 1; }
int CVjxPci::doFlashFpga(const unsigned char*, unsigned int) { return 0; }
