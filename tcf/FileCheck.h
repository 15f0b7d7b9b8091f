// The whole update file checked without a card, before anything is written
// to one: the EEPROM images, the segment chain and the FPGA image, with the
// texts the stages that use them would show.
#pragma once

#include <cstdint>

#include "../app/LogWindow.h"

namespace tcf {

// Whether the FPGA image with the CRC-32 the update appends fits a
// configuration device of `deviceBytes` (CVjxPci::FpgaDeviceBytes). When it
// does not, `reason` receives the text shown after "Can't program FPGA: ".
bool FpgaImageFits(uint32_t imageSize, uint32_t deviceBytes, CString* reason);

}  // namespace tcf
