// Checksums the simulator needs for the cards' contents.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// CRC-32 as the update program appends it to an FPGA image: reflected
// polynomial 0xEDB88320, register starting at 0xFFFFFFFF, no final
// inversion (the JAMCRC variant).
uint32_t jamCrc32(const uint8_t* bytes, size_t len, uint32_t reg = 0xFFFFFFFFu);
// One step of the same register.
uint32_t jamCrc32Step(uint32_t reg, uint8_t byte);
// The common CRC-32 (zlib, IEEE 802.3), used for the digests `vjxsim show`
// reports, so they can be checked with everyday tools.
uint32_t crc32Ieee(const uint8_t* bytes, size_t len);

// Bit order of a byte reversed (bit 0 becomes bit 7).
inline uint8_t reverseBits(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

}  // namespace sim
