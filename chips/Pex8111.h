// PLX PEX 8111 PCIe-to-PCI bridge: the configuration registers used to find
// it and to reach its local registers indirectly, and the local registers
// (memory space 0) that drive its serial EEPROM and its general-purpose pins.
#pragma once

#include <cstdint>

namespace pex8111 {

constexpr uint32_t kDeviceId = 0x8111;

// ---- Configuration space -------------------------------------------------------
constexpr uint32_t CFG_MAININDEX = 0x84;  // local register reached through MAINDATA
constexpr uint32_t CFG_MAINDATA = 0x88;

// ---- Local registers (memory space 0; MAININDEX = offset - REGISTER_BASE) ------
constexpr uint32_t REGISTER_BASE = 0x1000;
constexpr uint32_t EECTL = 0x1004;    // serial EEPROM control
constexpr uint32_t GPIOCTL = 0x1020;  // general-purpose I/O control

// The 25xx SPI EEPROM behind EECTL: its longest write cycle (tWC maximum).
constexpr unsigned kEepromWriteCycleMaxMs = 5;

// EECTL: the bridge shifts one byte per command to or from its SPI EEPROM.
constexpr uint32_t EECTL_WRITE_DATA = 0x000000FF;   // bits 7..0: byte to send
constexpr uint32_t EECTL_READ_DATA_SHIFT = 8;       // bits 15..8: byte received
constexpr uint32_t EECTL_WRITE_START = 0x00010000;  // shift the byte out
constexpr uint32_t EECTL_READ_START = 0x00020000;   // shift a byte in
constexpr uint32_t EECTL_CS_ENABLE = 0x00040000;    // EEPROM chip select held
constexpr uint32_t EECTL_BUSY = 0x00080000;         // a byte is being shifted
// Bits kept from the current value when a byte is sent, and when one is
// received (bit 31 is cleared by every command).
constexpr uint32_t EECTL_WRITE_KEEP = 0x7FFAFF00;
constexpr uint32_t EECTL_READ_KEEP = 0x7FFFFFFF;

// GPIOCTL: four general-purpose pins, data in bits 0..3 and direction
// (set = output) in bits 4..7; bits 12 and 13 are set and cleared together.
constexpr uint32_t GPIOCTL_DATA(int pin) {
    return 1u << pin;
}
constexpr uint32_t GPIOCTL_OUTPUT(int pin) {
    return 1u << (4 + pin);
}
constexpr uint32_t GPIOCTL_GPIO_SELECT = 0x3000;

// ---- Serial EEPROM content, loaded by the bridge at power-up -------------------
// Byte 0 must hold the signature, or the bridge ignores the EEPROM and keeps
// its default register values. Byte 1 is the format byte; bytes 2-3 the
// register byte count (low byte first), followed by that many bytes of
// register loads, 6 bytes each (16-bit register address, 32-bit value).
// When the format byte asks for it, a 16-bit shared-memory byte count and
// that many bytes of shared-memory data follow the register loads.
constexpr uint8_t EEPROM_SIGNATURE = 0x5A;
constexpr uint8_t EEPROM_FORMAT_REGISTERS = 0x01;
constexpr uint8_t EEPROM_FORMAT_SHARED_MEMORY = 0x02;
constexpr unsigned EEPROM_HEADER_BYTES = 4;
constexpr unsigned EEPROM_REGISTER_LOAD_BYTES = 6;
constexpr unsigned EEPROM_SHARED_COUNT_BYTES = 2;

}  // namespace pex8111
