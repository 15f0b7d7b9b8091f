// The checksums of the update file and of the FPGA image, and the byte swap
// for the big-endian 16-bit fields of segment headers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace crc_detail {

// Entry i: the register after shifting byte i through the reflected
// polynomial eight times (LSB first).
template <typename T, T kPoly>
constexpr std::array<T, 256> makeTable() {
    std::array<T, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        T r = static_cast<T>(i);
        for (int bit = 0; bit < 8; ++bit) r = static_cast<T>((r & 1u) ? (r >> 1) ^ kPoly : (r >> 1));
        table[i] = r;
    }
    return table;
}

}  // namespace crc_detail

// CRC-8 with the reflected polynomial 0x8C (x^8 + x^5 + x^4 + 1), register
// starting at 0xFF, no final XOR. A record whose last byte holds the CRC of
// the bytes before it checks to 0.
class CCrc8 {
public:
    static uint8_t Update(uint8_t crc, uint8_t data) { return m_Tab[crc ^ data]; }
    // 1 when the register over all length bytes ends at 0.
    static int Check(const void* data, size_t length);
    // Stores the CRC of the first length - 1 bytes into byte length - 1.
    static void Calc(void* data, size_t length);

    static constexpr std::array<uint8_t, 256> m_Tab = crc_detail::makeTable<uint8_t, 0x8C>();
};

// CRC-32 of IEEE 802.3 in reflected form, register starting at 0xFFFFFFFF and
// handed out as it stands (no final inversion).
class CCrc32 {
public:
    CCrc32() { Init(0xFFFFFFFFu); }
    void Init(uint32_t start) { m_crc = start; }
    void Update(uint8_t data) { m_crc = (m_crc >> 8) ^ m_Tab[(m_crc ^ data) & 0xFFu]; }
    void Update(const void* data, size_t length);
    uint32_t Get() const { return m_crc; }
    operator uint32_t() const { return m_crc; }

    static constexpr std::array<uint32_t, 256> m_Tab = crc_detail::makeTable<uint32_t, 0xEDB88320u>();

private:
    uint32_t m_crc;
};

class CUtil {
public:
    static uint16_t swapW(uint16_t value) { return static_cast<uint16_t>((value >> 8) | (value << 8)); }
};
