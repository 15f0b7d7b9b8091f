// The configuration EEPROM driven bit by bit on its four pins.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "WireDrivers.h"

namespace {

using devtest::MicrowireHost;

class MicrowireTest : public ::testing::Test {
protected:
    MicrowireTest() {
        mem.init(sim::MicrowireEeprom::kWords * 2, 0xFF);
        timing.eepromWriteUs = 5000;
    }
    sim::NvRegion mem;
    sim::Timing timing;
    sim::MicrowireEeprom part{mem, timing};
    MicrowireHost host{part};

    // Raises CS after a write and polls ready with clocks, DI low.
    int pollsUntilReady(int maxPolls) {
        host.setCs(true);
        for (int i = 0; i < maxPolls; ++i) {
            if (host.readBit()) {
                host.setCs(false);
                return i;
            }
            host.now += 1000;
        }
        host.setCs(false);
        return -1;
    }
};

TEST_F(MicrowireTest, WriteStoresHighByteFirstAndReadsBackAfterTheDummyZero) {
    host.ewen();
    host.write(5, 0xA55A);
    EXPECT_EQ(pollsUntilReady(10), 5);  // 5 ms cycle polled every 1 ms
    EXPECT_EQ(mem.at(10), 0xA5);
    EXPECT_EQ(mem.at(11), 0x5A);
    std::vector<uint16_t> words;
    ASSERT_TRUE(host.read(5, words, 1));
    EXPECT_EQ(words[0], 0xA55A);
}

TEST_F(MicrowireTest, SequentialReadContinuesIntoNextWordsAndWrapsAtTheEnd) {
    for (unsigned a = 0; a < sim::MicrowireEeprom::kWords; ++a) {
        const uint8_t w[2] = {uint8_t(a), uint8_t(~a)};
        mem.write(a * 2, w, 2);
    }
    std::vector<uint16_t> words;
    ASSERT_TRUE(host.read(254, words, 4));
    EXPECT_EQ(words, (std::vector<uint16_t>{0xFE01, 0xFF00, 0x00FF, 0x01FE}));
}

TEST_F(MicrowireTest, WritesNeedEwenAndEwdsLocksAgain) {
    host.write(1, 0x1234);
    EXPECT_EQ(pollsUntilReady(1), 0) << "a refused write starts no cycle";
    EXPECT_EQ(part.word(1), 0xFFFF);
    host.ewen();
    host.write(1, 0x1234);
    pollsUntilReady(10);
    host.ewds();
    host.write(1, 0x0000);
    EXPECT_EQ(pollsUntilReady(1), 0);
    EXPECT_EQ(part.word(1), 0x1234);
}

TEST_F(MicrowireTest, CycleStartsOnlyWhenCsFallsAfterAllSixteenDataBits) {
    host.ewen();
    host.command(1, 3);
    host.send(0x12, 10);
    host.setCs(false);
    EXPECT_FALSE(part.writeInProgress(host.now));
    EXPECT_EQ(part.word(3), 0xFFFF);
}

TEST_F(MicrowireTest, BusyPartShowsStatusAndIgnoresCommands) {
    host.ewen();
    host.write(7, 0x0F0F);
    host.setCs(true);
    EXPECT_FALSE(part.dataOut(host.now)) << "busy reads low";
    host.setCs(false);
    EXPECT_TRUE(part.dataOut(host.now)) << "DO floats high while deselected";
    std::vector<uint16_t> words;
    host.read(7, words, 1);
    EXPECT_EQ(words[0], 0x0000) << "a busy part shows its status, not the data";
    host.now += 5000;
    EXPECT_FALSE(part.writeInProgress(host.now));
    ASSERT_TRUE(host.read(7, words, 1));
    EXPECT_EQ(words[0], 0x0F0F);
}

TEST_F(MicrowireTest, EraseWriteAllAndEraseAll) {
    host.ewen();
    host.command(0, 0x40);  // WRAL
    host.send(0x5AA5, 16);
    host.setCs(false);
    host.now += 5000;
    EXPECT_EQ(part.word(0), 0x5AA5);
    EXPECT_EQ(part.word(255), 0x5AA5);
    host.command(3, 9);  // ERASE
    host.setCs(false);
    host.now += 5000;
    EXPECT_EQ(part.word(9), 0xFFFF);
    EXPECT_EQ(part.word(8), 0x5AA5);
    host.command(0, 0x80);  // ERAL
    host.setCs(false);
    host.now += 5000;
    EXPECT_EQ(part.word(8), 0xFFFF);
}

TEST_F(MicrowireTest, AbsentPartKeepsDoHigh) {
    part.setFaults({true, false, -1});
    std::vector<uint16_t> words;
    EXPECT_FALSE(host.read(0, words, 1));
    EXPECT_EQ(words[0], 0xFFFF);
    host.ewen();
    host.write(0, 0);
    EXPECT_EQ(part.word(0), 0xFFFF);
}

TEST_F(MicrowireTest, NeverReadyPartStaysBusyAndStoresNothing) {
    part.setFaults({false, true, -1});
    host.ewen();
    host.write(2, 0x0000);
    EXPECT_EQ(pollsUntilReady(100), -1);
    EXPECT_EQ(part.word(2), 0xFFFF);
}

TEST_F(MicrowireTest, StuckBitKeepsItsOldValueInBothDirections) {
    host.ewen();
    host.write(4, 0x0000);
    host.now += 5000;
    part.setFaults({false, false, 3});
    host.write(4, 0xFFFF);
    host.now += 5000;
    EXPECT_EQ(part.word(4), 0xFFF7);
    host.write(5, 0x0000);  // erased word: the stuck bit stays 1
    host.now += 5000;
    EXPECT_EQ(part.word(5), 0x0008);
}

TEST_F(MicrowireTest, ContentPersistsInTheRegionFile) {
    char dir[] = "/tmp/mwtestXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/eeprom.bin";
    {
        sim::NvRegion file;
        ASSERT_TRUE(file.open(path, 512, 0xFF));
        sim::MicrowireEeprom p(file, timing);
        MicrowireHost h(p);
        h.ewen();
        h.write(0x80, 0xBEEF);
    }
    sim::NvRegion again;
    ASSERT_TRUE(again.open(path, 512, 0xFF));
    sim::MicrowireEeprom p(again, timing);
    MicrowireHost h(p);
    std::vector<uint16_t> words;
    ASSERT_TRUE(h.read(0x80, words, 1));
    EXPECT_EQ(words[0], 0xBEEF);
    unlink(path.c_str());
    rmdir(dir);
}

}  // namespace
