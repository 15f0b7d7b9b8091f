// The whole update file checked without a card, before anything is written
// to one: the EEPROM images, the file's layout, the segment chain and the
// FPGA image, with the texts the stages that use them would show.
#pragma once

#include <cstdint>

#include "../app/LogWindow.h"

namespace tcf {

// Whether the FPGA image with the CRC-32 the update appends fits a
// configuration device of `deviceBytes` (CVjxPci::FpgaDeviceBytes). When it
// does not, `reason` receives the text shown after "Can't program FPGA: ".
bool FpgaImageFits(uint32_t imageSize, uint32_t deviceBytes, CString* reason);

// Whether the PEX 8111 takes `image` as its configuration when it loads its
// EEPROM at power-up: the signature first, and exactly as many bytes as the
// image's own counts declare. An empty image (nothing to write) passes. When
// it does not, `reason` receives the refusal.
bool PcieEepromImageLoads(const unsigned char* image, unsigned size, CString* reason);

}  // namespace tcf
