// The PEX 8111 PCI Express bridge as the simulator decodes it: its
// registers in memory space 0, the indirect window in configuration space,
// the EEPROM control register and GPIOCTL, from the chip's data book.
#pragma once

#include <cstdint>

namespace sim {
namespace pex {

// Registers in memory space 0, and the indirect window in configuration
// space that reaches them at kRegisterBase + MAININDEX.
constexpr unsigned kEectl = 0x1004;
constexpr unsigned kGpioctl = 0x1020;
constexpr unsigned kMainIndex = 0x84;
constexpr unsigned kMainData = 0x88;
constexpr unsigned kRegisterBase = 0x1000;
constexpr uint64_t kSpaceLength = 0x10000;

// EECTL: the SPI EEPROM's byte shifter.
constexpr uint32_t kEectlDataOut = 0x000000FF;  // byte to shift out
constexpr unsigned kEectlDataInShift = 8;       // byte shifted in, bits 8..15
constexpr uint32_t kEectlStartWrite = 1u << 16;
constexpr uint32_t kEectlStartRead = 1u << 17;
constexpr uint32_t kEectlChipSelect = 1u << 18;
constexpr uint32_t kEectlBusy = 1u << 19;

// GPIOCTL: data of GPIO0..3 in bits 0..3, their output enables in bits 4..7,
// bits 12 and 13 give GPIO0 to another function when set.
constexpr int kGpios = 4;
inline uint32_t gpioData(int gpio) {
    return 1u << gpio;
}
inline uint32_t gpioOutputEnable(int gpio) {
    return 0x10u << gpio;
}
constexpr uint32_t kGpio0Function = 0x3000;
constexpr uint32_t kGpioctlReset = 0x00000000;

}  // namespace pex
}  // namespace sim
