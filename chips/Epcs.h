// The serial FPGA configuration devices (EPC) the cards carry: silicon ID as
// answered to the read-silicon-ID command, and capacity.
#pragma once

#include <cstdint>

namespace epc {

struct Device {
    uint8_t siliconId;
    uint32_t bytes;
    unsigned bulkEraseMaxMs;  // the longest write cycle the part has (tEB, maximum)
};

constexpr Device kDevices[] = {
    {0x10, 128u * 1024u, 6000u},   // EPCS1
    {0x12, 512u * 1024u, 10000u},  // EPCS4
};

// The devices are programmed in pages of 256 bytes (the EPCS data sheet's
// page size). No FPGA of the cards configures from less than one page: the
// bitstream of the smallest FPGA that such a device serves is many pages
// long, so an image below one page cannot be a configuration.
constexpr uint32_t kPageBytes = 256;
constexpr uint32_t kSmallestImage = kPageBytes;

// A part left erasing by an interrupted program answers only its status
// until the erase has ended; before it is identified, the longest erase of
// any part the cards carry is what it may still need.
constexpr unsigned longestBulkEraseMs() {
    unsigned longest = 0;
    for (const Device& d : kDevices) {
        if (d.bulkEraseMaxMs > longest) longest = d.bulkEraseMaxMs;
    }
    return longest;
}

// The smallest part any card carries: an image (with its CRC) up to this
// fits whatever part the card has.
constexpr uint32_t smallestCapacity() {
    uint32_t smallest = kDevices[0].bytes;
    for (const Device& d : kDevices) {
        if (d.bytes < smallest) smallest = d.bytes;
    }
    return smallest;
}

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
