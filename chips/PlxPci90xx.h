// PLX PCI 9030 and PCI 9056 bridge chips: their IDs and the local
// configuration registers (memory space 0 of the chip's function) this
// program uses, with their bits. The PCI 9050 has none of them in use.
#pragma once

#include <cstdint>

namespace plx {

constexpr uint32_t kVendorId = 0x10B5;
constexpr uint32_t kDevicePci9050 = 0x9050;
constexpr uint32_t kDevicePci9030 = 0x9030;
constexpr uint32_t kDevicePci9056 = 0x9056;

// ---- PCI 9030 local configuration registers ----------------------------------
namespace pci9030 {
constexpr uint32_t INTCSR = 0x4C;  // interrupt control/status
constexpr uint32_t CNTRL = 0x50;   // serial EEPROM, user I/O and PCI target control
constexpr uint32_t GPIOC = 0x54;   // general-purpose I/O control

// INTCSR, written whole: local interrupt input 1 off (edge-triggered, active
// high, its edge latch cleared; PCI interrupts on), and the same value with
// bit 0 (LINTi1 enable) set.
constexpr uint32_t INTCSR_LINTI1_OFF = 0x542;
constexpr uint32_t INTCSR_LINTI1_ENABLE = 0x001;
constexpr uint32_t INTCSR_LINTI1_ACK = INTCSR_LINTI1_OFF | INTCSR_LINTI1_ENABLE;

// GPIOC: general-purpose pins 0..8; pin n has its select bit at 3n, its
// direction bit (set = output) at 3n + 1 and its data bit at 3n + 2.
constexpr uint32_t GPIOC_SELECT(int pin) {
    return 1u << (3 * pin);
}
constexpr uint32_t GPIOC_OUTPUT(int pin) {
    return 1u << (3 * pin + 1);
}
constexpr uint32_t GPIOC_DATA(int pin) {
    return 1u << (3 * pin + 2);
}
}  // namespace pci9030

// ---- PCI 9056 local configuration registers ----------------------------------
namespace pci9056 {
constexpr uint32_t INTCSR = 0x68;  // interrupt control/status
constexpr uint32_t CNTRL = 0x6C;   // serial EEPROM, user I/O and PCI command control

// INTCSR, written whole: local interrupt input 1 off.
constexpr uint32_t INTCSR_LINTI1_OFF = 0x0F010100;

// CNTRL user I/O pins: USERo data, USERi data, and the bits that give the
// two pins their user function.
constexpr uint32_t CNTRL_USERO_DATA = 0x00010000;
constexpr uint32_t CNTRL_USERI_DATA = 0x00020000;
constexpr uint32_t CNTRL_USERI_SELECT = 0x00040000;
constexpr uint32_t CNTRL_USERO_SELECT = 0x00080000;
// The EEPROM data pin is shared: the chip samples it only while this bit is
// set and drives it only while it is clear.
constexpr uint32_t CNTRL_EEDO_INPUT_ENABLE = 0x80000000;
}  // namespace pci9056

// ---- CNTRL serial EEPROM bits, the same on both chips --------------------------
constexpr uint32_t CNTRL_EESK = 0x01000000;  // EEPROM clock
constexpr uint32_t CNTRL_EECS = 0x02000000;  // EEPROM chip select, active high
constexpr uint32_t CNTRL_EEDI = 0x04000000;  // data to the EEPROM
constexpr uint32_t CNTRL_EEDO = 0x08000000;  // data from the EEPROM

}  // namespace plx
