// The PLX PCI 9030 and PCI 9056 bridge chips as the simulator decodes them:
// local configuration registers and their bits, from the chips' data books.
// The host side declares the same facts on its own; the two are kept apart
// on purpose, so that a wrong value on one side is caught by the other.
#pragma once

#include <cstdint>

namespace sim {
namespace plx {

// Local configuration registers (address space 0, and space 1 as I/O).
constexpr unsigned kIntcsr9030 = 0x4C;
constexpr unsigned kCntrl9030 = 0x50;
constexpr unsigned kGpioc9030 = 0x54;
constexpr unsigned kIntcsr9056 = 0x68;
constexpr unsigned kCntrl9056 = 0x6C;

// CNTRL: serial-EEPROM lines, and on the PCI 9056 the USERo/USERi pins.
constexpr uint32_t kEeClock = 1u << 24;
constexpr uint32_t kEeSelect = 1u << 25;
constexpr uint32_t kEeDataIn = 1u << 26;       // to the EEPROM
constexpr uint32_t kEeDataOut = 1u << 27;      // from the EEPROM (read only)
constexpr uint32_t kEeInputEnable = 1u << 31;  // PCI 9056: EEDI/EEDO pin turned to input
constexpr uint32_t kUserOut = 1u << 16;
constexpr uint32_t kUserIn = 1u << 17;  // read only
constexpr uint32_t kUserInSelect = 1u << 18;
constexpr uint32_t kUserOutSelect = 1u << 19;

// GPIOC of the PCI 9030: pins 0..7 three bits each (select, direction,
// data); pin 8 direction bit 25 and data bit 26.
constexpr int kGpioPins = 9;
inline uint32_t gpioSelect(int pin) {
    return 1u << (3 * pin);
}
inline uint32_t gpioOutput(int pin) {
    return pin == 8 ? 1u << 25 : 1u << (3 * pin + 1);
}
inline uint32_t gpioData(int pin) {
    return pin == 8 ? 1u << 26 : 1u << (3 * pin + 2);
}

// Reset values.
constexpr uint32_t kGpiocReset = 0x00249249;  // pins 0..7 selected as inputs, pin 8 input
constexpr uint32_t kCntrl9030Reset = 0x00780000;
constexpr uint32_t kCntrl9056Reset = 0x000D767E;  // USERo selected and high, USERi selected

// Address-space sizes.
constexpr uint64_t kLocalSpace9050 = 0x80;
constexpr uint64_t kLocalSpace9030 = 0x80;
constexpr uint64_t kLocalSpace9056 = 0x200;
constexpr uint64_t kCardSpace = 0x1000;

}  // namespace plx
}  // namespace sim
