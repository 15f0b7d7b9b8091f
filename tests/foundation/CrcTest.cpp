// Checksums against their check values and a bit-by-bit reference.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tcf/Crc.h"

namespace {

// Bit-serial references, written from the polynomials alone.
uint8_t crc8Reference(const uint8_t* data, size_t length, uint8_t reg = 0xFF) {
    for (size_t i = 0; i < length; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            bool in = ((data[i] >> bit) & 1) != ((reg & 1) != 0);
            reg >>= 1;
            if (in) reg ^= 0x8C;
        }
    }
    return reg;
}

TEST(Crc8, CheckValuesTableCheckAndCalc) {
    uint8_t reg = 0xFF;
    for (char c : std::string("123456789")) reg = CCrc8::Update(reg, static_cast<uint8_t>(c));
    EXPECT_EQ(reg, 0x0B);
    // The table entry is the CRC of one byte from a zero register.
    for (unsigned i = 0; i < 256; ++i) {
        const uint8_t b = static_cast<uint8_t>(i);
        EXPECT_EQ(CCrc8::m_Tab[i], crc8Reference(&b, 1, 0)) << i;
    }

    EXPECT_EQ(CCrc8::Check(nullptr, 0), 0);
    uint8_t record[4] = {'a', 'b', 'c', 0x55};
    CCrc8::Calc(record, 4);
    EXPECT_EQ(record[3], 0x90);
    EXPECT_EQ(std::memcmp(record, "abc", 3), 0);
    for (int other = 0; other < 256; ++other) {
        record[3] = static_cast<uint8_t>(other);
        EXPECT_EQ(CCrc8::Check(record, 4), other == 0x90 ? 1 : 0) << other;
    }

    uint8_t one = 0x42;
    CCrc8::Calc(&one, 1);  // nothing before the CRC byte
    EXPECT_EQ(one, 0xFF);
}

TEST(Crc32, CheckValuesWithoutFinalInversionAndTheReferenceInPieces) {
    CCrc32 crc;
    EXPECT_EQ(crc.Get(), 0xFFFFFFFFu);
    crc.Update("123456789", 9);
    EXPECT_EQ(crc.Get(), 0x340BC6D9u);
    EXPECT_EQ(~crc.Get(), 0xCBF43926u);
    EXPECT_EQ(CCrc32::m_Tab[1], 0x77073096u);

    // The same bytes in pieces, after a restart.
    CCrc32 pieces;
    pieces.Update("junk", 4);
    pieces.Init(0xFFFFFFFFu);
    pieces.Update("1234", 4);
    pieces.Update(static_cast<uint8_t>('5'));
    pieces.Update("6789", 4);
    pieces.Update(nullptr, 0);
    EXPECT_EQ(static_cast<uint32_t>(pieces), 0x340BC6D9u);
}

}  // namespace
