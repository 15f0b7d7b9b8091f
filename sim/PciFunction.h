// One function on the simulated PCI bus: its 256-byte configuration space and
// its address spaces. Every access of the rack (and so of the access library)
// reaches the hardware models through this interface.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

struct PciAddress {
    uint8_t bus = 0;
    uint8_t slot = 0;
    uint8_t function = 0;
};

// The 256 bytes of a configuration header with the bits software may write.
class ConfigSpace {
public:
    static constexpr unsigned kSize = 256;
    uint8_t get8(unsigned offset) const { return m_bytes[offset & 0xFF]; }
    uint32_t get32(unsigned offset) const;
    void set8(unsigned offset, uint8_t value) { m_bytes[offset & 0xFF] = value; }
    void set16(unsigned offset, uint16_t value);
    void set32(unsigned offset, uint32_t value);
    // Bits of a byte that a configuration write changes (default: none).
    void setWritable(unsigned offset, uint8_t mask) { m_writable[offset & 0xFF] = mask; }
    void write8(unsigned offset, uint8_t value);

private:
    uint8_t m_bytes[kSize] = {};
    uint8_t m_writable[kSize] = {};
};

class PciFunction {
public:
    enum class Kind { Card, Bridge };
    virtual ~PciFunction() = default;

    virtual Kind kind() const = 0;
    PciAddress address() const { return m_address; }
    void setAddress(PciAddress a);
    uint16_t deviceId() const { return static_cast<uint16_t>(m_config.get32(0) >> 16); }

    // Length of address space 0..5 (0: the function has none).
    virtual uint64_t spaceLength(unsigned space) const = 0;

    // Configuration access of 8, 16 or 32 bits at an offset aligned to the
    // width. Registers behind the configuration space (MAINDATA) are read and
    // written once per access.
    virtual uint32_t configRead(unsigned offset, unsigned width, uint64_t nowUs);
    virtual void configWrite(unsigned offset, unsigned width, uint32_t value, uint64_t nowUs);

    // Register access of 8 or 32 bits inside an existing address space.
    virtual uint32_t read(unsigned space, unsigned offset, unsigned width, uint64_t nowUs) = 0;
    virtual void write(unsigned space, unsigned offset, unsigned width, uint32_t value, uint64_t nowUs) = 0;

protected:
    // Bus numbers the configuration header shows (bridges override).
    virtual void addressChanged() {}
    ConfigSpace m_config;
    PciAddress m_address;
};

// A 32-bit register file accessed as 32-bit words or single bytes: helpers
// for the byte lanes of a 32-bit register.
inline uint32_t laneRead(uint32_t reg, unsigned offset, unsigned width) {
    if (width == 32) return reg;
    unsigned shift = 8 * (offset & 3);
    return width == 16 ? (reg >> shift) & 0xFFFF : (reg >> shift) & 0xFF;
}
inline uint32_t laneMerge(uint32_t reg, unsigned offset, unsigned width, uint32_t value) {
    if (width == 32) return value;
    unsigned shift = 8 * (offset & 3);
    uint32_t mask = (width == 16 ? 0xFFFFu : 0xFFu) << shift;
    return (reg & ~mask) | ((value << shift) & mask);
}

}  // namespace sim
