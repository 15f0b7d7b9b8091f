// The 25-series SPI serial-memory command set (the FPGA's EPCS configuration
// devices, the PEX 8111's 25xx EEPROM): opcodes and status-register bits.
// Commands, addresses and status go most significant bit first.
#pragma once

#include <cstdint>

namespace spi25 {

constexpr uint8_t CMD_WRITE_ENABLE = 0x06;  // WREN: sets the write-enable latch
constexpr uint8_t CMD_READ_STATUS = 0x05;   // RDSR: status register follows
constexpr uint8_t CMD_READ = 0x03;          // READ: address, then data until deselected
constexpr uint8_t CMD_PAGE_PROGRAM = 0x02;  // WRITE / PP: address, then up to one page
constexpr uint8_t CMD_BULK_ERASE = 0xC7;    // BE: the whole array
constexpr uint8_t CMD_SILICON_ID = 0xAB;    // RES: three dummy bytes, then the ID (EPCS)

constexpr uint8_t STATUS_WIP = 0x01;  // write (program or erase) in progress
constexpr uint8_t STATUS_WEL = 0x02;  // write-enable latch set

}  // namespace spi25
