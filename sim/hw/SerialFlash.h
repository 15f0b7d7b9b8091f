// The configuration flash of the PCIe-core cards as the simulator decodes
// it: a 64 Mbit 25-series SPI NOR flash of the FL-L class (manufacturer
// 0x01, device 0x6017) with 4-byte-address commands beside the classic
// 3-byte ones, any-register access and a factory-programmed unique ID.
// 256-byte pages, 64 KiB blocks; bytes go MSB first in SPI mode 0 or 3.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {
namespace serial_flash {

enum Opcode : uint8_t {
    kReadJedecId = 0x9F,        // RDID: manufacturer, device high, device low
    kReadUniqueId = 0x4B,       // RUID: four dummy bytes, then the 64-bit ID
    kReadAnyRegister = 0x65,    // RDAR: 3-byte register address, one dummy byte, the value
    kWriteAnyRegister = 0x71,   // WRAR: 3-byte register address, the value
    kRead4 = 0x0C,              // 4READ (fast): 4-byte address, one dummy byte, data
    kBlockErase4 = 0xDC,        // 4BE: 64 KiB block at the 4-byte address
    kPageProgram4 = 0x12,       // 4PP: 4-byte address, up to 256 data bytes
    kReadElectronicSig = 0xAB,  // RES: three dummy bytes, then the one-byte signature
    kChipErase = 0xC7,          // CE (0x60 too)
    kChipEraseAlt = 0x60,
};

constexpr uint8_t kManufacturer = 0x01;
constexpr uint16_t kDevice = 0x6017;
constexpr uint8_t kElectronicSignature = 0x16;  // RES: 64 Mbit
constexpr size_t kSize = 8u * 1024 * 1024;
constexpr size_t kPageSize = 256;
constexpr size_t kBlockSize = 64 * 1024;

// Register addresses of RDAR/WRAR. The non-volatile registers are loaded
// into their volatile copies at power-up; writing a non-volatile one takes
// a write cycle (tW) and updates both.
constexpr uint32_t kSr1Nv = 0x000000;
constexpr uint32_t kCr1Nv = 0x000002;  // bit 1 QUAD: IO2/IO3 carry data
constexpr uint32_t kCr2Nv = 0x000003;
constexpr uint32_t kCr3Nv = 0x000004;
constexpr uint32_t kVolatileBase = 0x800000;  // SR1V, SR2V, CR1V, CR2V, CR3V
constexpr size_t kNvRegisters = 5;            // addresses 0..4 (1 is volatile only)
constexpr uint8_t kCr1Quad = 0x02;

}  // namespace serial_flash
}  // namespace sim
