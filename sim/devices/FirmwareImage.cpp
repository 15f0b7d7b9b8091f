// Application images for the simulated microcontroller.
//
// Layout of an image (flash address = image offset):
//   0x0000  LJMP 0x0050 (the reset vector)
//   0x0040  version record: "VJXAPP", major, second minor character, first
//           minor character, has-minor flag, ISP version number
//   0x0050  code (filler bytes 0x00..0xFE, never 0xFF, so that no block
//           of an application looks erased)
//   the last 16 bytes of every 16 KiB block stay 0xFF: the update file puts
//   its segment trailer there.
#include <cstring>

#include "Microcontroller.h"

namespace sim {
namespace firmware_image {

namespace {

constexpr size_t kFlashSize = 0x10000;
constexpr size_t kBlockSize = 0x4000;
constexpr size_t kTrailerSize = 16;
constexpr size_t kMagicSize = 6;
constexpr size_t kRecordSize = kMagicSize + 5;
constexpr unsigned kCodeStart = 0x0050;
constexpr unsigned kMaxMajor = 63;  // the version answer keeps six bits of it

bool printable(char c) {
    return c > 0x20 && c < 0x7F;
}

// splitmix64: a small generator whose sequence is the same everywhere.
uint64_t nextRandom(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

bool versionFromText(const std::string& text, uint8_t isp, Version* out) {
    const size_t dot = text.find('.');
    const std::string major = text.substr(0, dot);
    if (major.empty() || major.size() > 2) return false;
    unsigned value = 0;
    for (char c : major) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > kMaxMajor) return false;

    Version v;
    v.bytes[0] = static_cast<uint8_t>(value);
    v.bytes[4] = isp;
    if (dot != std::string::npos) {
        const std::string minor = text.substr(dot + 1);
        if (minor.size() != 2 || !printable(minor[0]) || !printable(minor[1])) return false;
        // The answer carries the second character before the first.
        v.bytes[1] = static_cast<uint8_t>(minor[1]);
        v.bytes[2] = static_cast<uint8_t>(minor[0]);
        v.bytes[3] = 1;
    }
    if (out) *out = v;
    return true;
}

std::string textFromVersion(const Version& v) {
    std::string text = std::to_string(v.bytes[0] & 0x3F);
    if (v.bytes[3] != 0) {
        text += '.';
        for (uint8_t c : {v.bytes[2], v.bytes[1]}) text += printable(static_cast<char>(c)) ? char(c) : '?';
    }
    return text;
}

std::vector<uint8_t> make(const Version& version, size_t size) {
    if (size > kFlashSize) size = kFlashSize;
    if (size < kCodeStart) size = kCodeStart;
    std::vector<uint8_t> image(size);

    // The filler depends on the version only: the same version gives the
    // same image, a different one differs throughout.
    uint64_t state = 0x564A5846ull;
    for (uint8_t b : version.bytes) state = state * 257 + b;
    for (auto& b : image) b = static_cast<uint8_t>(nextRandom(state) % 0xFF);

    const uint8_t resetVector[] = {0x02, kCodeStart >> 8, kCodeStart & 0xFF};
    std::memcpy(image.data(), resetVector, sizeof resetVector);
    std::memcpy(image.data() + kVersionRecordOffset, kMagic, kMagicSize);
    std::memcpy(image.data() + kVersionRecordOffset + kMagicSize, version.bytes, sizeof version.bytes);

    for (size_t end = kBlockSize; end <= size; end += kBlockSize)
        std::memset(image.data() + end - kTrailerSize, 0xFF, kTrailerSize);
    return image;
}

bool find(const uint8_t* flash, size_t size, Version* out) {
    if (!flash || size < kVersionRecordOffset + kRecordSize) return false;
    const uint8_t* record = flash + kVersionRecordOffset;
    if (std::memcmp(record, kMagic, kMagicSize) != 0) return false;
    if (out) std::memcpy(out->bytes, record + kMagicSize, sizeof out->bytes);
    return true;
}

}  // namespace firmware_image
}  // namespace sim
