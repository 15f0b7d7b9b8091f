// The serial FPGA configuration devices (EPC) the cards carry: silicon ID as
// answered to the read-silicon-ID command, and capacity.
#pragma once

#include <cstdint>

namespace epc {

struct Device {
    uint8_t siliconId;
    uint32_t bytes;
};

constexpr Device kDevices[] = {
    {0x10, 128u * 1024u},  // EPCS1
    {0x12, 512u * 1024u},  // EPCS4
};

// The devices are programmed in pages of 256 bytes (the EPCS data sheet's
// page size). No FPGA of the cards configures from less than one page: the
// bitstream of the smallest FPGA that such a device serves is many pages
// long, so an image below one page cannot be a configuration.
constexpr uint32_t kPageBytes = 256;
constexpr uint32_t kSmallestImage = kPageBytes;

// Capacity of the part with this silicon ID; 0 for a part the program does
// not know.
constexpr uint32_t capacity(uint8_t siliconId) {
    for (const Device& d : kDevices) {
        if (d.siliconId == siliconId) return d.bytes;
    }
    return 0;
}

// The largest part any card carries: no image (with its CRC) beyond this
// can ever be programmed.
constexpr uint32_t largestCapacity() {
    uint32_t largest = 0;
    for (const Device& d : kDevices) {
        if (d.bytes > largest) largest = d.bytes;
    }
    return largest;
}

}  // namespace epc
