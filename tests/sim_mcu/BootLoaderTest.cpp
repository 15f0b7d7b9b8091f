// The ISP boot loader: echo, probe, records and their answers, the flash,
// BSB and BLJB, the start of the application.
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

TEST(BootLoaderLine, UnderstandsNothingBeforeTheAutobaudU) {
    Bench b;
    b.pulse(true);
    EXPECT_EQ("", b.exchange(":0200000500"));
    EXPECT_EQ("U", b.exchange("U"));
    EXPECT_EQ("58.\r\n", answer(b, record(0x05, 0, {0x00, 0x00})));
}

TEST(BootLoaderLine, EchoesEverythingAndAnswersTheProbeOnce) {
    Bench b;
    b.reset(true);
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

TEST(BootLoaderRecords, Identification) {
    Bench b;
    b.reset(true);
    EXPECT_EQ("12.\r\n", answer(b, record(0x05, 0, {0x0F, 0x00})));
    EXPECT_EQ("58.\r\n", answer(b, record(0x05, 0, {0x00, 0x00})));
    EXPECT_EQ("D7.\r\n", answer(b, record(0x05, 0, {0x00, 0x01})));
    EXPECT_EQ("EC.\r\n", answer(b, record(0x05, 0, {0x00, 0x02})));
    EXPECT_EQ("EF.\r\n", answer(b, record(0x05, 0, {0x00, 0x03})));
    EXPECT_EQ("XCMD\r\n", answer(b, record(0x05, 0, {0x00, 0x04})));

    sim::McuOptions wrong;
    wrong.ispManufacturer = 0x1F;
    wrong.ispDevice = 0x0A0B0C;
    Bench w({}, wrong);
    w.reset(true);
    EXPECT_EQ("1F.\r\n", answer(w, record(0x05, 0, {0x00, 0x00})));
    EXPECT_EQ("0A.\r\n", answer(w, record(0x05, 0, {0x00, 0x01})));
    EXPECT_EQ("0C.\r\n", answer(w, record(0x05, 0, {0x00, 0x03})));
}

TEST(BootLoaderRecords, WrongChecksumIsAnsweredAndNothingDone) {
    Bench b;
    b.reset(true);
    b.flash.writeByte(0x100, 0x00);
    std::string cs;
    const std::string body = record(0x03, 0, {0x07}, &cs);
    ASSERT_EQ("F5", cs);
    EXPECT_EQ("X\r\n", answer(b, body + "F6"));
    EXPECT_EQ(0x00, b.flash.at(0x100));
    EXPECT_EQ("XCMD\r\n", answer(b, record(0x03, 0, {0x09})));
    EXPECT_EQ("XCMD\r\n", answer(b, record(0x07, 0, {})));
    EXPECT_EQ(".\r\n", answer(b, record(0x01, 0, {})));  // end-of-file record
}

TEST(BootLoaderRecords, ProgrammingOnlyClearsBits) {
    Bench b;
    b.reset(true);
    EXPECT_EQ(".\r\n", answer(b, record(0x00, 0x1234, {0xF0, 0x0F, 0xAA})));
    EXPECT_EQ(".\r\n", answer(b, record(0x00, 0x1235, {0x3C, 0xFF})));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0xF0, 0x0C, 0xAA, 0xFF}), flashAt(b, 0x1233, 5));
}

TEST(BootLoaderRecords, RecordLengthsAndEnds) {
    Bench b;
    b.reset(true);
    std::vector<uint8_t> data(128);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    EXPECT_EQ(".\r\n", answer(b, record(0x00, 0xFF80, data)));  // the very last 128 bytes
    EXPECT_EQ(data, flashAt(b, 0xFF80, 128));
    data.push_back(0x80);
    EXPECT_EQ("XLEN\r\n", answer(b, record(0x00, 0x1000, data)));
    EXPECT_EQ("XLEN\r\n", answer(b, record(0x00, 0xFFFF, {0x00, 0x00})));
    EXPECT_EQ(0xFF, b.flash.at(0x1000));
    EXPECT_EQ(".\r\n", answer(b, record(0x00, 0x2000, {})));
}

TEST(BootLoaderRecords, RefusedRecordsLeaveTheFlash) {
    sim::McuOptions options;
    options.refuseRecords = true;
    Bench b({}, options);
    b.reset(true);
    EXPECT_EQ("XPRG\r\n", answer(b, record(0x00, 0x0000, {0x00, 0x11})));
    EXPECT_EQ(0xFF, b.flash.at(0));
    EXPECT_EQ(".\r\n", answer(b, record(0x03, 0, {0x06, 0x00, 0x00})));  // other commands work
}

TEST(BootLoaderRecords, ChipEraseClearsFlashAndStatusByteAfterItsTime) {
    sim::Timing timing = wireTiming();
    timing.mcuChipEraseUs = 3000 * kMs;
    Bench b(timing);
    b.reset(true);
    b.loadApplication("1.00");
    const std::string rec = record(0x03, 0, {0x07});
    EXPECT_EQ(rec, b.exchange(rec));  // nothing more within 50 ms
    EXPECT_EQ("", b.exchange("U"));   // busy: not even an echo
    b.tick(2800 * kMs);
    EXPECT_EQ("", b.take());
    EXPECT_EQ(".\r\n", b.drain(300 * kMs));
    EXPECT_EQ("U", b.exchange("U"));
    EXPECT_EQ(0xFF, b.mcu->bsb());
    for (size_t a = 0; a < b.flash.size(); ++a) ASSERT_EQ(0xFF, b.flash.at(a)) << a;
}

TEST(BootLoaderRecords, ProgrammingTakesItsTime) {
    sim::Timing timing = wireTiming();
    timing.mcuRecordUs = 10 * kMs;
    Bench b(timing);
    b.reset(true);
    const std::string rec = record(0x00, 0x0400, {0x12, 0x34});
    b.send(rec);
    const std::string echo = b.read(rec.size());
    EXPECT_EQ(rec, echo);
    // The answer is due 10 ms after the last checksum digit arrived.
    b.tick(8 * kMs);
    EXPECT_EQ("", b.take());
    EXPECT_EQ(".\r\n", b.read(3, 5 * kMs));
    EXPECT_EQ((std::vector<uint8_t>{0x12, 0x34}), flashAt(b, 0x0400, 2));
}

TEST(BootLoaderRecords, BootStatusByteAndJumpBit) {
    sim::Timing timing = wireTiming();
    timing.mcuBootConfigUs = 20 * kMs;
    Bench b(timing);
    b.reset(true);
    const std::string bsb = record(0x03, 0, {0x06, 0x00, 0x5A});
    EXPECT_EQ(bsb, b.exchange(bsb, 10 * kMs));  // not yet: 20 ms of work
    EXPECT_EQ(".\r\n", b.drain());
    EXPECT_EQ(0x5A, b.mcu->bsb());
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

TEST(BootLoaderRecords, BlankCheck) {
    Bench b;
    b.reset(true);
    const auto blankCheck = [&](unsigned first, unsigned last) {
        return answer(
            b,
            record(0x04, 0, {uint8_t(first >> 8), uint8_t(first), uint8_t(last >> 8), uint8_t(last), 0x01}));
    };
    EXPECT_EQ(".\r\n", blankCheck(0x0000, 0xFFFF));
    b.flash.writeByte(0x4000, 0xFE);
    EXPECT_EQ(".\r\n", blankCheck(0x0000, 0x3FFF));
    EXPECT_EQ("XBLK\r\n", blankCheck(0x4000, 0x7FFF));
    EXPECT_EQ("XBLK\r\n", blankCheck(0x3FFF, 0x4000));
    EXPECT_EQ("XCMD\r\n", blankCheck(0x7FFF, 0x4000));
    EXPECT_EQ("XCMD\r\n", answer(b, record(0x04, 0, {0x00, 0x00, 0x00, 0x10, 0x00})));  // display
}

TEST(BootLoaderStart, StartRecordRunsTheApplication) {
    Bench b;
    b.reset(true);
    b.loadApplication("9.14", 0x07);
    // As after a chip erase: status byte set, jump bit programmed. The start
    // is a jump, not a reset, so they do not send it back to the boot loader.
    EXPECT_EQ(".\r\n", answer(b, record(0x03, 0, {0x06, 0x00, 0xFF})));
    const std::string rec = record(0x03, 0, {0x03, 0x01, 0x00, 0x00});
    EXPECT_EQ(rec, b.exchange(rec));  // no answer
    EXPECT_EQ(McuMode::Application, b.mcu->mode());
    EXPECT_EQ("", b.exchange("U"));
    EXPECT_EQ(std::string("\x09\x34\x31\x01\x07", 5), b.exchange("R"));
    EXPECT_EQ("9.14", b.mcu->runningVersion());
}

TEST(BootLoaderStart, StartWithoutApplicationOrWithFaults) {
    const std::string rec = record(0x03, 0, {0x03, 0x01, 0x00, 0x00});
    {
        Bench b;
        b.reset(true);  // erased flash
        EXPECT_EQ(rec, b.exchange(rec));
        EXPECT_EQ(McuMode::Off, b.mcu->mode());
        EXPECT_EQ("", b.exchange("U"));
    }
    {
        sim::McuOptions options;
        options.appStartFails = true;
        Bench b({}, options);
        b.reset(true);
        b.loadApplication("1.00");
        EXPECT_EQ(rec, b.exchange(rec));
        EXPECT_EQ("", b.exchange("R"));
        EXPECT_EQ("", b.mcu->runningVersion());
    }
    {
        sim::McuOptions options;
        options.bootLoaderStaysAfterStart = true;
        Bench b({}, options);
        b.reset(true);
        b.loadApplication("1.00");
        EXPECT_EQ(rec, b.exchange(rec));
        EXPECT_EQ("U", b.exchange("U"));
        EXPECT_EQ(McuMode::BootLoader, b.mcu->mode());
    }
}
