#include "Checksums.h"

#include <array>

namespace sim {
namespace {

std::array<uint32_t, 256> makeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

const std::array<uint32_t, 256>& table() {
    static const std::array<uint32_t, 256> t = makeTable();
    return t;
}

}  // namespace

uint32_t jamCrc32Step(uint32_t reg, uint8_t byte) {
    return (reg >> 8) ^ table()[(reg ^ byte) & 0xFF];
}

uint32_t jamCrc32(const uint8_t* bytes, size_t len, uint32_t reg) {
    const auto& t = table();
    for (size_t i = 0; i < len; ++i) reg = (reg >> 8) ^ t[(reg ^ bytes[i]) & 0xFF];
    return reg;
}

uint32_t crc32Ieee(const uint8_t* bytes, size_t len) {
    return ~jamCrc32(bytes, len);
}

}  // namespace sim
