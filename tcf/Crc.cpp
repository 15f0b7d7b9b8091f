#include "Crc.h"

static_assert(CCrc8::m_Tab[1] == 0x5E && CCrc8::m_Tab[7] == 0x83, "CRC-8 table");
static_assert(CCrc32::m_Tab[1] == 0x77073096u && CCrc32::m_Tab[3] == 0x990951BAu, "CRC-32 table");

int CCrc8::Check(const void* data, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint8_t crc = 0xFF;
    for (size_t i = 0; i < length; ++i) crc = Update(crc, p[i]);
    return crc == 0 ? 1 : 0;
}

void CCrc8::Calc(void* data, size_t length) {
    if (length == 0) return;  // no byte to hold the CRC
    uint8_t* p = static_cast<uint8_t*>(data);
    uint8_t crc = 0xFF;
    for (size_t i = 0; i + 1 < length; ++i) crc = Update(crc, p[i]);
    p[length - 1] = crc;
}

void CCrc32::Update(const void* data, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < length; ++i) Update(p[i]);
}
