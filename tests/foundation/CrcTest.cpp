// Checksums against their check values and a bit-by-bit reference.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
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

uint32_t crc32Reference(const uint8_t* data, size_t length) {
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        reg ^= data[i];
        for (int bit = 0; bit < 8; ++bit) reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
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
    EXPECT_EQ(CCrc8::m_Tab[1], 0x5E);

    EXPECT_EQ(CCrc8::Check(nullptr, 0), 0);
    uint8_t record[4] = {'a', 'b', 'c', 0x55};
    CCrc8::Calc(record, 4);
    EXPECT_EQ(record[3], 0x90);
    EXPECT_EQ(std::memcmp(record, "abc", 3), 0);
    for (int other = 0; other < 256; ++other) {
        record[3] = static_cast<uint8_t>(other);
        EXPECT_EQ(CCrc8::Check(record, 4), other == 0x90 ? 1 : 0) << other;
    }

    // A 256-byte header of random bytes closed by Calc checks good, and any
    // single flipped bit is caught.
    std::mt19937 rng(5);
    std::vector<uint8_t> header(256);
    for (auto& b : header) b = static_cast<uint8_t>(rng());
    CCrc8::Calc(header.data(), header.size());
    EXPECT_EQ(header[255], crc8Reference(header.data(), 255));
    EXPECT_EQ(CCrc8::Check(header.data(), header.size()), 1);
    for (size_t bit = 0; bit < header.size() * 8; bit += 7) {
        header[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        EXPECT_EQ(CCrc8::Check(header.data(), header.size()), 0) << bit;
        header[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
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

    std::mt19937 rng(11);
    std::vector<uint8_t> image(70000);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    CCrc32 pieces;
    pieces.Update("junk", 4);
    pieces.Init(0xFFFFFFFFu);
    pieces.Update(image.data(), 1000);
    pieces.Update(image[1000]);
    pieces.Update(image.data() + 1001, image.size() - 1001);
    pieces.Update(nullptr, 0);
    EXPECT_EQ(static_cast<uint32_t>(pieces), crc32Reference(image.data(), image.size()));
}

TEST(SwapW, ExchangesTheTwoBytes) {
    EXPECT_EQ(CUtil::swapW(0x1234), 0x3412);
    EXPECT_EQ(CUtil::swapW(0x00FF), 0xFF00);
}

}  // namespace
