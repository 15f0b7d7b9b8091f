// The FPGA's configuration flash on PCIe-core cards (chips/ConfigFlash.h),
// brought to an FPGA image: identify, compare, and only on a difference
// erase the sectors the image covers and write its pages.
#pragma once

#include "../app/LogWindow.h"
#include "SpiCtlPort.h"

namespace configflash {

// Brings the flash behind `port` to `image` (`size` bytes, its CRC-32
// included, which is where the comparison starts). *rewritten is set to 1
// as soon as the flash is found to differ from the image, i.e. once the
// FPGA's next load would differ from the configuration it runs now. Reports
// through `log`; reasons of a failed write are appended to `lastError`.
// Result 1 when the flash holds the image, 0 when it failed.
int Program(CSpiCtlPort& port, const unsigned char* image, unsigned size, int* rewritten, CLogWindow* log,
            CString& lastError);

}  // namespace configflash
