// The configuration EEPROM driven bit by bit on its four pins, busy for the
// data sheet's typical and maximum write times. (A read running on over many
// words: the host's configuration EEPROM stage, which reads the preset in one
// command.)
#include <gtest/gtest.h>

#include "WireDrivers.h"

namespace {

using devtest::MicrowireHost;

// Data-sheet write cycle times of the 93C56-class part (golden values).
struct CycleFigures {
    const char* profile;
    uint64_t writeUs, writeAllUs;
};

class MicrowireTest : public ::testing::TestWithParam<CycleFigures> {
protected:
    MicrowireTest() { mem.init(sim::MicrowireEeprom::kWords * 2, 0xFF); }
    void SetUp() override { ASSERT_TRUE(sim::Timing::byName(GetParam().profile, timing)); }
    sim::NvRegion mem;
    sim::Timing timing;
    sim::MicrowireEeprom part{mem, timing};
    MicrowireHost host{part};
    uint64_t cycle() const { return GetParam().writeUs; }

    // Raises CS after a write and polls ready with clocks, DI low, every
    // 100 us; the time until ready, or -1.
    long busyFor(uint64_t limit) {
        host.setCs(true);
        const uint64_t start = host.now;
        while (!host.readBit()) {
            if (host.now - start >= limit) {
                host.setCs(false);
                return -1;
            }
            host.now += 100;
        }
        host.setCs(false);
        return long(host.now - start);
    }
};

// A write stores its word high byte first, the part busy for the cycle:
// selected, it shows its status (low) on DO, also to a read; deselected, DO
// floats high.
TEST_P(MicrowireTest, WriteStoresHighByteFirstAndTheBusyPartShowsItsStatus) {
    host.ewen();
    host.write(5, 0xA55A);
    host.setCs(true);
    EXPECT_FALSE(part.dataOut(host.now)) << "busy reads low";
    host.setCs(false);
    EXPECT_TRUE(part.dataOut(host.now)) << "DO floats high while deselected";
    std::vector<uint16_t> words;
    host.read(5, words, 1);
    EXPECT_EQ(words[0], 0x0000) << "a busy part shows its status, not the data";
    host.now += cycle() - 1;
    EXPECT_TRUE(part.writeInProgress(host.now));
    host.now += 1;
    EXPECT_FALSE(part.writeInProgress(host.now));
    EXPECT_EQ(mem.at(10), 0xA5);
    EXPECT_EQ(mem.at(11), 0x5A);
    ASSERT_TRUE(host.read(5, words, 1)) << "the dummy bit is 0";
    EXPECT_EQ(words[0], 0xA55A);
}

TEST_P(MicrowireTest, WritesNeedEwenAllSixteenBitsAndEwdsLocksAgain) {
    host.write(1, 0x1234);
    EXPECT_EQ(busyFor(0), 0) << "a refused write starts no cycle";
    EXPECT_EQ(part.word(1), 0xFFFF);
    host.ewen();
    host.command(1, 1);
    host.send(0x12, 10);
    host.setCs(false);
    EXPECT_FALSE(part.writeInProgress(host.now)) << "the cycle starts only after all sixteen data bits";
    EXPECT_EQ(part.word(1), 0xFFFF);
    host.write(1, 0x1234);
    busyFor(100000);
    host.ewds();
    host.write(1, 0x0000);
    EXPECT_EQ(busyFor(0), 0);
    EXPECT_EQ(part.word(1), 0x1234);
}

TEST_P(MicrowireTest, EraseWriteAllAndEraseAll) {
    host.ewen();
    host.command(0, 0x40);  // WRAL
    host.send(0x5AA5, 16);
    host.setCs(false);
    EXPECT_EQ(busyFor(100000), long(GetParam().writeAllUs));
    EXPECT_EQ(part.word(0), 0x5AA5);
    EXPECT_EQ(part.word(255), 0x5AA5);
    host.command(3, 9);  // ERASE
    host.setCs(false);
    EXPECT_EQ(busyFor(100000), long(cycle()));
    EXPECT_EQ(part.word(9), 0xFFFF);
    EXPECT_EQ(part.word(8), 0x5AA5);
    host.command(0, 0x80);  // ERAL
    host.setCs(false);
    EXPECT_EQ(busyFor(100000), long(GetParam().writeAllUs));
    EXPECT_EQ(part.word(8), 0xFFFF);
}

// A stuck bit and an absent part. (A part that never gets ready: the host's
// configuration EEPROM stage over one.)
TEST_P(MicrowireTest, FaultyParts) {
    host.ewen();
    host.write(4, 0x0000);
    host.now += cycle();
    part.setFaults({false, false, 3});  // stuck bit: keeps its old value both ways
    host.write(4, 0xFFFF);
    host.now += cycle();
    EXPECT_EQ(part.word(4), 0xFFF7);
    host.write(5, 0x0000);  // erased word: the stuck bit stays 1
    host.now += cycle();
    EXPECT_EQ(part.word(5), 0x0008);

    part.setFaults({true, false, -1});  // absent: DO stays high
    std::vector<uint16_t> words;
    EXPECT_FALSE(host.read(0, words, 1));
    EXPECT_EQ(words[0], 0xFFFF);
    host.write(0, 0);
    EXPECT_EQ(part.word(0), 0xFFFF);
}

INSTANTIATE_TEST_SUITE_P(Profiles, MicrowireTest,
                         ::testing::Values(CycleFigures{"typical", 2000, 4000},
                                           CycleFigures{"max", 6000, 15000}),
                         [](const ::testing::TestParamInfo<CycleFigures>& info) {
                             return info.param.profile;
                         });

}  // namespace
