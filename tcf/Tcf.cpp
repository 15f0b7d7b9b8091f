// Byte-order helpers of the update file and the small hexadecimal reader.
#include "Tcf.h"

#include <cctype>
#include <cstdlib>

namespace tcf {

uint32_t getLE32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void putLE32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

uint16_t getBE16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void putBE16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

}  // namespace tcf

int CTcf::getHex(const char* text, int position, int width) {
    // Fields are at most eight characters: a 32-bit value at most.
    if (text == nullptr || position < 0 || width <= 0 || width > 8) return -1;
    char field[9];
    int n = 0;
    // Copy up to width characters, stopping at the end of the text so that a
    // field running past it never reads beyond the terminator.
    const char* start = text;
    for (int i = 0; i < position; ++i) {
        if (start[0] == '\0') return -1;
        ++start;
    }
    while (n < width && start[n] != '\0') {
        field[n] = start[n];
        ++n;
    }
    field[n] = '\0';
    char* end = nullptr;
    unsigned long value = std::strtoul(field, &end, 16);
    if (end == field) return -1;
    return static_cast<int>(static_cast<uint32_t>(value));
}
