#include "PciFunction.h"

namespace sim {

uint32_t ConfigSpace::get32(unsigned offset) const {
    offset &= 0xFC;
    return static_cast<uint32_t>(m_bytes[offset]) | static_cast<uint32_t>(m_bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(m_bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(m_bytes[offset + 3]) << 24;
}

void ConfigSpace::set16(unsigned offset, uint16_t value) {
    set8(offset, static_cast<uint8_t>(value));
    set8(offset + 1, static_cast<uint8_t>(value >> 8));
}

void ConfigSpace::set32(unsigned offset, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) set8(offset + i, static_cast<uint8_t>(value >> (8 * i)));
}

void ConfigSpace::write8(unsigned offset, uint8_t value) {
    uint8_t mask = m_writable[offset & 0xFF];
    m_bytes[offset & 0xFF] = static_cast<uint8_t>((m_bytes[offset & 0xFF] & ~mask) | (value & mask));
}

void PciFunction::setAddress(PciAddress a) {
    m_address = a;
    addressChanged();
}

uint32_t PciFunction::configRead(unsigned offset, unsigned width, uint64_t) {
    uint32_t value = 0;
    for (unsigned i = 0; i < width / 8; ++i)
        value |= static_cast<uint32_t>(m_config.get8(offset + i)) << (8 * i);
    return value;
}

void PciFunction::configWrite(unsigned offset, unsigned width, uint32_t value, uint64_t) {
    for (unsigned i = 0; i < width / 8; ++i)
        m_config.write8(offset + i, static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace sim
