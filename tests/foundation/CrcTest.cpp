// Checksums against their check values and a bit-by-bit reference.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "tcf/Crc.h"

namespace {

// Bit-serial references, written from the polynomials alone.
uint8_t crc8Reference(const uint8_t* data, size_t length) {
    uint8_t reg = 0xFF;
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

const uint8_t* bytes(const char* text) {
    return reinterpret_cast<const uint8_t*>(text);
}

uint8_t crc8(const uint8_t* data, size_t length) {
    uint8_t reg = 0xFF;
    for (size_t i = 0; i < length; ++i) reg = CCrc8::Update(reg, data[i]);
    return reg;
}

TEST(Crc8, CheckValuesAndTable) {
    EXPECT_EQ(crc8(bytes("123456789"), 9), 0x0B);
    EXPECT_EQ(crc8(bytes("abc"), 3), 0x90);
    const uint8_t first[] = {0x00, 0x5E, 0xBC, 0xE2, 0x61, 0x3F, 0xDD, 0x83};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(CCrc8::m_Tab[i], first[i]);
    for (unsigned i = 0; i < 256; ++i) {
        uint8_t b = static_cast<uint8_t>(i);
        // The table entry is the CRC of one byte from a zero register.
        uint8_t reg = 0;
        for (int bit = 0; bit < 8; ++bit) {
            bool in = ((b >> bit) & 1) != ((reg & 1) != 0);
            reg >>= 1;
            if (in) reg ^= 0x8C;
        }
        EXPECT_EQ(CCrc8::m_Tab[i], reg) << i;
    }
}

TEST(Crc8, CheckAndCalcOverRecords) {
    EXPECT_EQ(CCrc8::Check(nullptr, 0), 0);
    uint8_t record[4] = {'a', 'b', 'c', 0x90};
    EXPECT_EQ(CCrc8::Check(record, 4), 1);
    for (int other = 0; other < 256; ++other) {
        if (other == 0x90) continue;
        record[3] = static_cast<uint8_t>(other);
        EXPECT_EQ(CCrc8::Check(record, 4), 0) << other;
    }
    record[3] = 0x55;
    CCrc8::Calc(record, 4);
    EXPECT_EQ(record[3], 0x90);
    EXPECT_EQ(std::memcmp(record, "abc", 3), 0);

    // A 256-byte header of random bytes closed by Calc always checks good,
    // and any single flipped bit is caught.
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

TEST(Crc32, CheckValuesWithoutFinalInversion) {
    CCrc32 crc;
    EXPECT_EQ(crc.Get(), 0xFFFFFFFFu);
    crc.Update("123456789", 9);
    EXPECT_EQ(crc.Get(), 0x340BC6D9u);
    EXPECT_EQ(~crc.Get(), 0xCBF43926u);
    CCrc32 abc;
    for (char c : std::string("abc")) abc.Update(static_cast<uint8_t>(c));
    EXPECT_EQ(static_cast<uint32_t>(abc), 0xCADBBE3Du);
    EXPECT_EQ(CCrc32::m_Tab[1], 0x77073096u);
    EXPECT_EQ(CCrc32::m_Tab[2], 0xEE0E612Cu);
    EXPECT_EQ(CCrc32::m_Tab[3], 0x990951BAu);
}

TEST(Crc32, MatchesTheBitwiseReferenceInPieces) {
    std::mt19937 rng(11);
    std::vector<uint8_t> image(70000);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    CCrc32 whole;
    whole.Update(image.data(), image.size());
    EXPECT_EQ(whole.Get(), crc32Reference(image.data(), image.size()));

    CCrc32 pieces;
    pieces.Update(image.data(), 1000);
    pieces.Update(image[1000]);
    pieces.Update(image.data() + 1001, image.size() - 1001);
    EXPECT_EQ(pieces.Get(), whole.Get());

    CCrc32 restarted;
    restarted.Update("junk", 4);
    restarted.Init(0xFFFFFFFFu);
    restarted.Update(image.data(), image.size());
    EXPECT_EQ(restarted.Get(), whole.Get());
    restarted.Update(nullptr, 0);
    EXPECT_EQ(restarted.Get(), whole.Get());
}

TEST(SwapW, ExchangesTheTwoBytes) {
    EXPECT_EQ(CUtil::swapW(0x1234), 0x3412);
    EXPECT_EQ(CUtil::swapW(0xABAB), 0xABAB);
    EXPECT_EQ(CUtil::swapW(0x00FF), 0xFF00);
    const uint8_t field[2] = {0x01, 0x02};  // big-endian 0x0102
    uint16_t native;
    std::memcpy(&native, field, 2);
    EXPECT_EQ(CUtil::swapW(native), 0x0102);
}

}  // namespace
