// The FPGA's configuration flash on PCIe-core cards: a 64 Mbit SPI NOR flash
// of the 25 series with 4-byte addressing, 256-byte pages and 64 KiB
// sectors, reached through the FPGA's SPICTL port. Write enable (0x06) and
// read status (0x05, bit 0 busy) are the 25-series commands of chips/Spi25.h.
// Commands, addresses and data go most significant bit first; addresses of
// the 4-byte commands are sent bits 31 to 24 first.
#pragma once

#include <cstdint>

namespace cfgflash {

// Identification: the only part the cards carry.
constexpr uint8_t CMD_READ_ID = 0x9F;  // manufacturer, device ID high, device ID low
constexpr uint8_t kManufacturer = 0x01;
constexpr uint16_t kDeviceId = 0x6017;

// Sent once after identification, followed by kStartupBytes zero bytes;
// what the part answers is not used.
constexpr uint8_t CMD_STARTUP = 0x4B;
constexpr unsigned kStartupBytes = 10;

// Any-register access: a 3-byte register address; reading inserts one dummy
// byte before the value. Writing needs write enable.
constexpr uint8_t CMD_READ_REGISTER = 0x65;
constexpr uint8_t CMD_WRITE_REGISTER = 0x71;
constexpr int kRegisterAddressBytes = 3;
// Configuration register 2 and the value the card's FPGA needs in it.
constexpr uint32_t REG_CONFIG2 = 0x000002;
constexpr uint8_t REG_CONFIG2_VALUE = 0x02;

// Array access with 4-byte addresses. The read inserts one dummy byte after
// the address; erase and page write need write enable, which the part
// clears again when the operation ends.
constexpr uint8_t CMD_READ4 = 0x0C;
constexpr uint8_t CMD_SECTOR_ERASE4 = 0xDC;
constexpr uint8_t CMD_PAGE_WRITE4 = 0x12;
constexpr int kAddressBytes = 4;

// The longest write cycle the part may run, data sheet maximum: a 64 KiB
// sector erase (1150 ms; a register write lasts up to 750 ms, a page write
// up to 1.35 ms). While a cycle runs the part answers nothing but status.
constexpr unsigned kLongestCycleMs = 1150;

constexpr uint32_t kPageBytes = 256;
constexpr uint32_t kSectorBytes = 64 * 1024;
constexpr uint32_t kCapacity = 8 * 1024 * 1024;  // 64 Mbit

}  // namespace cfgflash
