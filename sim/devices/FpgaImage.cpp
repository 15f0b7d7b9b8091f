// The simulated FPGA's configuration image: building one and checking what
// the FPGA reads from its configuration device. Layout in FpgaBlock.h.
#include <array>
#include <cstring>

#include "FpgaBlock.h"

namespace sim {
namespace fpga_image {

namespace {

constexpr uint8_t kMagic[8] = {'V', 'J', 'X', 'F', 'P', 'G', 'A', 0};
constexpr uint8_t kFormat = 1;
constexpr size_t kFormatAt = 8;
constexpr size_t kVersionAt = 9;
constexpr size_t kLengthAt = 12;
constexpr size_t kCrcAt = 16;

const std::array<uint32_t, 256>& crcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

uint32_t crcUpdate(uint32_t crc, const uint8_t* p, size_t n) {
    const auto& t = crcTable();
    for (size_t i = 0; i < n; ++i) crc = (crc >> 8) ^ t[(crc ^ p[i]) & 0xFF];
    return crc;
}

// CRC over the image without its CRC field.
uint32_t imageCrc(const uint8_t* image, size_t size) {
    uint32_t crc = crcUpdate(0xFFFFFFFFu, image, kCrcAt);
    crc = crcUpdate(crc, image + kHeaderSize, size - kHeaderSize);
    return ~crc;
}

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t getLe32(const uint8_t* p) {
    return uint32_t(p[0]) | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

std::vector<uint8_t> make(uint8_t version, size_t size) {
    if (size < kMinSize) size = kMinSize;
    if (size > 0xFFFFFFFFu) size = 0xFFFFFFFFu;
    std::vector<uint8_t> image(size, 0);
    std::memcpy(image.data(), kMagic, sizeof kMagic);
    image[kFormatAt] = kFormat;
    image[kVersionAt] = version;
    putLe32(&image[kLengthAt], uint32_t(size));
    // xorshift32; never seeded with 0.
    uint32_t x = 0x9E3779B9u ^ (uint32_t(version) << 24) ^ uint32_t(size);
    if (x == 0) x = 1;
    for (size_t i = kHeaderSize; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = uint8_t(x >> 11);
    }
    putLe32(&image[kCrcAt], imageCrc(image.data(), size));
    return image;
}

bool parse(const uint8_t* stream, size_t length, uint8_t* version, size_t* imageSize) {
    if (!stream || length < kMinSize) return false;
    if (std::memcmp(stream, kMagic, sizeof kMagic) != 0 || stream[kFormatAt] != kFormat) return false;
    const size_t size = getLe32(stream + kLengthAt);
    if (size < kMinSize || size > length) return false;
    if (getLe32(stream + kCrcAt) != imageCrc(stream, size)) return false;
    if (version) *version = stream[kVersionAt];
    if (imageSize) *imageSize = size;
    return true;
}

bool parse(const uint8_t* stream, size_t length, uint8_t* version) {
    return parse(stream, length, version, nullptr);
}

}  // namespace fpga_image
}  // namespace sim
