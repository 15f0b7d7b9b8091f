// The update sequence: FPGA configuration device, flash ROM, application.
#include "../card/VjxPci.h"

int CVjxPci::doFlash(CFile&, CLogWindow&, const char*) { return 0; }
int CVjxPci::doFlashIsp(const char*) { return 0; }
