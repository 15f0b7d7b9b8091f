// The ISP boot loader: echo, probe, records and their answers, the flash,
// BSB and BLJB, and the start of the application. (That the flash and boot
// bytes persist shows in the end-to-end update, read back by `vjxsim show`.)
#include <gtest/gtest.h>

#include "McuBench.h"

using namespace mcutest;
using sim::McuMode;

namespace {

// Sends a record and returns the answer behind its echo.
std::string answer(Bench& b, const std::string& rec, uint64_t silenceUs = 50 * kMs) {
    const std::string got = b.exchange(rec, silenceUs);
    EXPECT_EQ(rec, got.substr(0, rec.size())) << "echo";
    return got.size() > rec.size() ? got.substr(rec.size()) : "";
}

std::vector<uint8_t> flashAt(const Bench& b, unsigned address, size_t n) {
    return std::vector<uint8_t>(b.flash.data() + address, b.flash.data() + address + n);
}

}  // namespace

TEST(BootLoaderLine, UnderstandsNothingBeforeTheAutobaudUThenEchoesEverything) {
    Bench b;
    b.pulse(true);
    EXPECT_EQ("", b.exchange(":0200000500"));
    EXPECT_EQ("U", b.exchange("U"));
    EXPECT_EQ("58.\r\n", answer(b, record(0x05, 0, {0x00, 0x00})));
    EXPECT_EQ("U", b.exchange("U"));
    EXPECT_EQ("UUU", b.exchange("UUU"));
    EXPECT_EQ("0A.x\r\n", b.exchange("0A.x\r\n"));  // ignored outside a record
}

// A record ends after the characters its length byte counts, whatever they
// were: a character that is no hexadecimal digit spoils the checksum.
TEST(BootLoaderLine, ARecordEndsByItsCountAndABadCharacterSpoilsItsChecksum) {
    Bench b;
    b.reset(true);
    std::string rec = record(0x05, 0, {0x00, 0x00});
    std::string spoilt = rec;
    spoilt[7] = 'U';
    EXPECT_EQ(spoilt + "X\r\n", b.exchange(spoilt));
    // A character lost on the way leaves the record open: the host's probe
    // "U" completes it, and the boot loader answers "X".
    std::string lost = rec;
    lost.erase(5, 1);
    EXPECT_EQ(lost, b.exchange(lost));
    EXPECT_EQ("UX\r\n", b.exchange("U"));
    EXPECT_EQ("58.\r\n", answer(b, rec));
    // After a wrong echo the host sends "UU": the first ends the open
    // record, the second is a probe between records.
    EXPECT_EQ(lost, b.exchange(lost));
    const std::string got = b.exchange("UU");
    EXPECT_TRUE(got == "UX\r\nU" || got == "UUX\r\n") << got;
    EXPECT_EQ("58.\r\n", answer(b, rec));
}

// Each record sent to a fresh boot loader whose flash is erased but for 0xFE
// at 0x4000, and the answer the boot loader's manual gives for it.
// A record answered with anything but "." leaves the flash as it was. (The
// identification's answers: the host's boot-loader commands, which check
// them in every profile.)
struct RecordCase {
    unsigned type, address;
    std::vector<uint8_t> data;
    const char* answer;
    bool refused = false;  // a part that refuses records
    bool badChecksum = false;
};

const RecordCase kRecords[] = {
    {0x05, 0, {0x0F, 0x00}, "12.\r\n"},  // boot loader version
    {0x05, 0, {0x00, 0x04}, "XCMD\r\n"},
    {0x03, 0, {0x07}, "X\r\n", false, true},  // chip erase with a wrong checksum
    {0x03, 0, {0x09}, "XCMD\r\n"},
    {0x07, 0, {}, "XCMD\r\n"},
    {0x01, 0, {}, ".\r\n"},  // end of file
    {0x00, 0x2000, {}, ".\r\n"},
    {0x00, 0x1000, std::vector<uint8_t>(129, 0x00), "XLEN\r\n"},
    {0x00, 0xFFFF, {0x00, 0x00}, "XLEN\r\n"},
    {0x00, 0x0000, {0x00, 0x11}, "XPRG\r\n", true},
    {0x03, 0, {0x06, 0x00, 0x00}, ".\r\n", true},        // other commands still work
    {0x04, 0, {0x00, 0x00, 0x3F, 0xFF, 0x01}, ".\r\n"},  // blank check
    {0x04, 0, {0x40, 0x00, 0x7F, 0xFF, 0x01}, "XBLK\r\n"},
    {0x04, 0, {0x3F, 0xFF, 0x40, 0x00, 0x01}, "XBLK\r\n"},
    {0x04, 0, {0x7F, 0xFF, 0x40, 0x00, 0x01}, "XCMD\r\n"},
    {0x04, 0, {0x00, 0x00, 0x00, 0x10, 0x00}, "XCMD\r\n"},  // display
};

class BootLoaderRecords : public ::testing::TestWithParam<RecordCase> {};

TEST_P(BootLoaderRecords, AnswerAsDocumented) {
    const RecordCase& c = GetParam();
    sim::McuOptions options;
    options.refuseRecords = c.refused;
    Bench b({}, options);
    b.reset(true);
    b.flash.writeByte(0x4000, 0xFE);
    const std::vector<uint8_t> before = flashAt(b, 0, 0x10000);
    std::string rec = record(c.type, c.address, c.data);
    if (c.badChecksum) rec.back() = char(rec.back() + 1);
    EXPECT_EQ(c.answer, answer(b, rec));
    if (std::string(c.answer) != ".\r\n") {
        EXPECT_TRUE(before == flashAt(b, 0, 0x10000)) << "flash changed";
    }
}

INSTANTIATE_TEST_SUITE_P(Manual, BootLoaderRecords, ::testing::ValuesIn(kRecords));

TEST(BootLoaderProgramming, OnlyClearsBitsUpToTheLastByte) {
    Bench b;
    b.reset(true);
    EXPECT_EQ(".\r\n", answer(b, record(0x00, 0x1234, {0xF0, 0x0F, 0xAA})));
    EXPECT_EQ(".\r\n", answer(b, record(0x00, 0x1235, {0x3C, 0xFF})));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0xF0, 0x0C, 0xAA, 0xFF}), flashAt(b, 0x1233, 5));
    std::vector<uint8_t> data(128);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    EXPECT_EQ(".\r\n", answer(b, record(0x00, 0xFF80, data)));  // the very last 128 bytes
    EXPECT_EQ(data, flashAt(b, 0xFF80, 128));
}

// A chip erase, a data record and the status byte's write each keep the
// boot loader busy for their time: no answer, and a probe not even echoed,
// until the time is over; then "." and the command's effect.
TEST(BootLoaderProgramming, EachCommandAnswersOnlyAfterItsTime) {
    sim::Timing timing = wireTiming();
    timing.mcuChipEraseUs = timing.mcuRecordUs = timing.mcuBootConfigUs = 300 * kMs;
    Bench b(timing);
    b.reset(true);
    b.loadApplication("1.00");
    // Each record and the status byte after it.
    const std::pair<std::string, int> cases[] = {{record(0x03, 0, {0x07}), 0xFF},
                                                 {record(0x00, 0x0400, {0x12, 0x34}), 0xFF},
                                                 {record(0x03, 0, {0x06, 0x00, 0x5A}), 0x5A}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        b.send(c.first);
        EXPECT_EQ(c.first, b.read(c.first.size()));
        b.send("U");  // busy: not even an echo
        b.tick(297 * kMs);
        EXPECT_EQ("", b.take());
        EXPECT_EQ(".\r\n", b.read(3, 5 * kMs)) << "due 300 ms after the last checksum digit";
        EXPECT_EQ(c.second, b.mcu->bsb());
        EXPECT_EQ("U", b.exchange("U"));
    }
    std::vector<uint8_t> expected(0x10000, 0xFF);  // the application erased, then the record
    expected[0x400] = 0x12;
    expected[0x401] = 0x34;
    EXPECT_TRUE(expected == flashAt(b, 0, 0x10000));
    EXPECT_EQ(0x5A, b.boot.at(0));
}

// The jump bit and the status byte, each written and erased.
TEST(BootLoaderProgramming, BootStatusByteAndJumpBit) {
    Bench b;
    b.reset(true);
    EXPECT_EQ(".\r\n", answer(b, record(0x03, 0, {0x0A, 0x04, 0x01})));
    EXPECT_EQ(0x01, b.mcu->bljb());
    EXPECT_EQ(".\r\n", answer(b, record(0x03, 0, {0x06, 0x00, 0x00})));
    EXPECT_EQ(".\r\n", answer(b, record(0x03, 0, {0x0A, 0x04, 0x00})));
    EXPECT_EQ(0x00, b.mcu->bsb());
    EXPECT_EQ(0x00, b.mcu->bljb());
    EXPECT_EQ(".\r\n", answer(b, record(0x03, 0, {0x04, 0x00})));  // erase BSB
    EXPECT_EQ(0xFF, b.mcu->bsb());
    EXPECT_EQ(b.boot.at(0), b.mcu->bsb());
}

// The start record is a jump, not a reset: the status byte set and the jump
// bit programmed (as after a chip erase) do not send it back to the boot
// loader. Erased flash, an application that does not come up, a boot loader
// that stays, and an application that starts: what then runs, and what
// answers a probe and a version request.
TEST(BootLoaderStart, StartRecordRunsTheApplicationIfItCan) {
    const std::string rec = record(0x03, 0, {0x03, 0x01, 0x00, 0x00});
    const McuMode modes[] = {McuMode::Off, McuMode::Off, McuMode::BootLoader, McuMode::Application};
    for (int fault = 0; fault < 4; ++fault) {
        SCOPED_TRACE(fault);
        sim::McuOptions options;
        options.appStartFails = fault == 1;
        options.bootLoaderStaysAfterStart = fault == 2;
        Bench b({}, options);
        b.reset(true);
        if (fault) b.loadApplication("9.14", 0x07);
        EXPECT_EQ(".\r\n", answer(b, record(0x03, 0, {0x06, 0x00, 0xFF})));
        EXPECT_EQ(rec, b.exchange(rec));  // no answer
        EXPECT_EQ(modes[fault], b.mcu->mode());
        EXPECT_EQ(fault == 2 ? "U" : "", b.exchange("U"));
        EXPECT_EQ(fault == 3 ? kAnswer914 : fault == 2 ? "R" : "", b.exchange("R"));
        EXPECT_EQ(fault == 3 ? "9.14" : "", b.mcu->runningVersion());
    }
}
