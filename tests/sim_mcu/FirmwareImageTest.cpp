// Application images' version text and the bytes the application answers.
// (The image made and its version found in the flash: the updates and
// listings of simulated cards.)
#include <gtest/gtest.h>

#include "sim/devices/Microcontroller.h"

namespace fw = sim::firmware_image;

// The text `vjxsim show` gives for the bytes of an answer. (The bytes for a
// text: the application's answer to "R", and the host's reading of the
// answers of cards with versions of every form.)
TEST(FirmwareVersion, TextFromTheAnswerBytes) {
    fw::Version v = {{0x49, '4', '1', 1, 0}};
    EXPECT_EQ("9.14", fw::textFromVersion(v)) << "the high bits are no part of the major number";
    v = {{0x05, 'x', '1', 0, 0}};
    EXPECT_EQ("5", fw::textFromVersion(v)) << "no minor number";
}

TEST(FirmwareVersion, RefusesTextTheAnswerCannotCarry) {
    fw::Version v;
    for (const char* text :
         {"", ".14", "9.", "9.1", "9.145", "64.00", "123", "x.14", "9.1 ", "-1.00", "9,14"})
        EXPECT_FALSE(fw::versionFromText(text, 1, &v)) << '"' << text << '"';
}
