// Application images: version text and bytes, image layout, finding the
// version in a flash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "sim/devices/Microcontroller.h"

namespace fw = sim::firmware_image;

TEST(FirmwareVersion, TextToAnswerBytesAndBack) {
    fw::Version v;
    ASSERT_TRUE(fw::versionFromText("9.14", 0x07, &v));
    EXPECT_EQ((std::vector<uint8_t>{9, '4', '1', 1, 7}), std::vector<uint8_t>(v.bytes, v.bytes + 5));
    EXPECT_EQ("9.14", fw::textFromVersion(v));

    ASSERT_TRUE(fw::versionFromText("12", 0x30, &v));
    EXPECT_EQ((std::vector<uint8_t>{12, 0, 0, 0, 0x30}), std::vector<uint8_t>(v.bytes, v.bytes + 5));
    EXPECT_EQ("12", fw::textFromVersion(v));

    for (const char* text : {"1.00", "0.01", "63.99", "2.1a"}) {
        ASSERT_TRUE(fw::versionFromText(text, 1, &v)) << text;
        EXPECT_EQ(text, fw::textFromVersion(v));
    }
    // The text ignores the high bits of the major number.
    v = {{0x49, '4', '1', 1, 0}};
    EXPECT_EQ("9.14", fw::textFromVersion(v));
    v = {{0x05, 'x', '1', 0, 0}};
    EXPECT_EQ("5", fw::textFromVersion(v));
}

TEST(FirmwareVersion, RefusesTextTheAnswerCannotCarry) {
    fw::Version v;
    for (const char* text :
         {"", ".14", "9.", "9.1", "9.145", "64.00", "123", "x.14", "9.1 ", "-1.00", "9,14"})
        EXPECT_FALSE(fw::versionFromText(text, 1, &v)) << '"' << text << '"';
}

// An image of up to the flash's 64 KiB with its version record; each
// 16 KiB block's trailer area stays free (0xFF), while the application fills
// the rest of it; a partial last block has no trailer area of its own.
TEST(FirmwareImage, LayoutFreeTrailersAndFinding) {
    fw::Version v, other;
    ASSERT_TRUE(fw::versionFromText("3.07", 0x21, &v));
    fw::versionFromText("3.08", 0x21, &other);
    const auto image = fw::make(v, 0x20000);
    ASSERT_EQ(0x10000u, image.size()) << "never beyond the flash";
    EXPECT_EQ(image, fw::make(v, 0x10000));
    EXPECT_NE(image, fw::make(other, 0x10000));
    fw::Version found;
    ASSERT_TRUE(fw::find(image.data(), image.size(), &found));
    EXPECT_TRUE(std::equal(v.bytes, v.bytes + 5, found.bytes));
    EXPECT_EQ(0, std::memcmp(image.data() + fw::kVersionRecordOffset, fw::kMagic, 6));
    for (size_t block = 0; block < 4; ++block) {
        const auto begin = image.begin() + block * 0x4000;
        EXPECT_TRUE(std::all_of(begin + 0x3FF0, begin + 0x4000, [](uint8_t b) { return b == 0xFF; }));
        EXPECT_TRUE(std::none_of(begin + 0x50, begin + 0x3FF0, [](uint8_t b) { return b == 0xFF; }));
    }
    const auto tiny = fw::make(v, 1);
    EXPECT_TRUE(fw::find(tiny.data(), tiny.size(), nullptr));
    const auto partial = fw::make(v, 0x5000);
    ASSERT_EQ(0x5000u, partial.size());
    EXPECT_NE(0xFF, partial.back());
    EXPECT_EQ(0xFF, partial[0x3FFF]);
    // Nothing is found in an erased or a short flash.
    const std::vector<uint8_t> erased(0x10000, 0xFF);
    EXPECT_FALSE(fw::find(erased.data(), erased.size(), nullptr));
    EXPECT_FALSE(fw::find(partial.data(), fw::kVersionRecordOffset + 10, nullptr));
    EXPECT_FALSE(fw::find(nullptr, 0, nullptr));
}
