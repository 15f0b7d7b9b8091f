// Application images' version text and the bytes the application answers.
// (The image made and its version found in the flash: the updates and
// listings of simulated cards.)
#include <gtest/gtest.h>

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
