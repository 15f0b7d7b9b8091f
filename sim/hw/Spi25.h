// The 25-series SPI serial-memory command set as the simulated parts decode
// it: the 25xx EEPROM behind the PEX 8111 and the FPGA's EPCS configuration
// device share the core of it (25xx EEPROM and EPCS data sheets).
#pragma once

#include <cstdint>

namespace sim {
namespace spi25 {

enum Opcode : uint8_t {
    kWriteStatus = 0x01,   // WRSR
    kWrite = 0x02,         // WRITE / page program
    kRead = 0x03,          // READ
    kWriteDisable = 0x04,  // WRDI
    kReadStatus = 0x05,    // RDSR
    kWriteEnable = 0x06,   // WREN
    kReadId = 0xAB,        // EPCS: read silicon ID (three dummy bytes first)
    kBulkErase = 0xC7,     // EPCS
    kSectorErase = 0xD8,   // EPCS
};

// Status register.
constexpr uint8_t kStatusWip = 0x01;  // write in progress
constexpr uint8_t kStatusWel = 0x02;  // write-enable latch

// EPCS silicon IDs.
constexpr uint8_t kIdEpcs1 = 0x10;
constexpr uint8_t kIdEpcs4 = 0x12;

}  // namespace spi25
}  // namespace sim
