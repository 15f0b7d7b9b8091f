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

// The serial EEPROM as the bridge reads it when it comes out of reset. Byte 0
// must be the signature; with anything else the bridge ignores the EEPROM
// and every register keeps its default. Byte 1 is the format: bit 0 asks for
// register loads, bit 1 for a shared-memory load. Bytes 2 and 3 count the
// bytes of register loads (low byte first); each load is 6 bytes: the
// register's address (low byte first; configuration space below 0x1000, the
// memory-space registers from 0x1000) and its 32-bit value (low byte first).
// A shared-memory load follows: a 16-bit byte count, then the bytes.
constexpr uint8_t kEepromSignature = 0x5A;
constexpr uint8_t kEepromLoadRegisters = 0x01;
constexpr uint8_t kEepromLoadSharedMemory = 0x02;
constexpr unsigned kEepromHeader = 4;
constexpr unsigned kEepromRegisterLoad = 6;

}  // namespace pex
}  // namespace sim
