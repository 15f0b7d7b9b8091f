// The PEX 8111's SPI EEPROM, byte by byte and through the bridge's EECTL.
// (A read running on over many bytes: the host's PCIe EEPROM stage.)
#include <gtest/gtest.h>

#include <vector>

#include "WireDrivers.h"
#include "sim/devices/Pex8111Eeprom.h"

namespace {

constexpr uint8_t kWren = 0x06, kWrdi = 0x04, kWrite = 0x02, kRead = 0x03;
using Bytes = std::vector<uint8_t>;

// The part on its SPI pins: two address bytes, high byte first.
struct Eeprom25Host : devtest::SpiPort {
    explicit Eeprom25Host(sim::SpiEeprom25& p) : part(p) { addressBytes = 2; }
    sim::SpiEeprom25& part;
    void select() override { part.select(true, now); }
    void deselect() override { part.select(false, now); }
    uint8_t shift(uint8_t out, bool) override { return part.exchange(out, now); }
    void strayBit() override {}
};

class SpiEepromTest : public ::testing::Test {
protected:
    SpiEepromTest() {
        mem.init(1024, 0xFF);
        timing.spiEepromWriteUs = 5000;
        timing.eectlByteUs = 10;
        part.setPart(sim::SpiMemoryPart::eeprom25(timing));  // the part takes its figures when made
    }
    sim::NvRegion mem;
    sim::Timing timing;
    sim::SpiEeprom25 part{mem, timing};
    Eeprom25Host host{part};
    uint64_t& now = host.now;

    // A write without its own write enable.
    void write(unsigned address, const Bytes& data) { host.program(address, data, false, false); }
};

TEST_F(SpiEepromTest, WriteCycleWithLatchStatusAndHighByteFirstAddress) {
    EXPECT_EQ(host.status(), 0x00);
    host.simple(kWren);
    EXPECT_EQ(host.status(), 0x02);
    write(0x0123, {0x11, 0x22});
    EXPECT_EQ(host.status(), 0x03) << "WIP while the cycle runs";
    EXPECT_EQ(host.read(0x0123, 2), (Bytes{0xFF, 0xFF})) << "reads return 0xFF during the cycle";
    host.simple(kWren);  // ignored while busy
    now += 5000;
    EXPECT_EQ(host.status(), 0x00) << "latch cleared by the cycle";
    EXPECT_EQ(host.read(0x0123, 2), (Bytes{0x11, 0x22}));
    EXPECT_EQ(mem.at(0x123), 0x11);
}

TEST_F(SpiEepromTest, WriteWithoutLatchOrDataDoesNothing) {
    write(0x10, {0x00});
    EXPECT_EQ(mem.at(0x10), 0xFF);
    EXPECT_EQ(host.status(), 0x00);
    host.simple(kWren);
    write(0x10, {});
    EXPECT_EQ(host.status(), 0x02) << "no cycle, latch still set";
    host.simple(kWrdi);
    write(0x10, {0x00});
    EXPECT_EQ(mem.at(0x10), 0xFF);
}

// 34 bytes from 94: the 32-byte page 64..95 wraps to its start, and the
// last two bytes overwrite the first two.
TEST_F(SpiEepromTest, WriteWrapsInsideItsPage) {
    host.simple(kWren);
    std::vector<uint8_t> many(34);
    for (size_t i = 0; i < many.size(); ++i) many[i] = uint8_t(0x40 + i);
    write(94, many);
    EXPECT_EQ(mem.at(94), 0x40 + 32);
    EXPECT_EQ(mem.at(95), 0x40 + 33);
    EXPECT_EQ(mem.at(64), 0x42);
    EXPECT_EQ(mem.at(93), 0x40 + 31);
    EXPECT_EQ(mem.at(63), 0xFF);
    EXPECT_EQ(mem.at(96), 0xFF);
}

TEST_F(SpiEepromTest, DeadPartAnswersNothingAndStoresNothing) {
    part.setFaults({true});
    host.simple(kWren);
    write(0, {0});
    EXPECT_EQ(mem.at(0), 0xFF);
    EXPECT_EQ(host.status(), 0xFF);
    mem.writeByte(5, 0x00);
    EXPECT_EQ(host.read(5, 1)[0], 0xFF);
}

// The bridge's byte shifter, driven the way its register works.
class EectlTest : public SpiEepromTest {
protected:
    sim::Pex8111Eectl eectl{part, timing};

    uint32_t waitIdle() {
        for (int i = 0; i < 100; ++i, now += 5) {
            const uint32_t v = eectl.read(now);
            if (!(v & 0x80000)) return v;
        }
        return 0xFFFFFFFF;
    }
    // waitIdle moves the clock: take its value before the write's time.
    void sendByte(uint8_t b) {
        const uint32_t v = waitIdle();
        eectl.write((v & 0x7FFAFF00) | 0x50000 | b, now);
    }
    uint8_t receiveByte() {
        const uint32_t v = waitIdle();
        eectl.write((v | 0x60000) & 0x7FFFFFFF, now);
        return uint8_t(waitIdle() >> 8);
    }
    void off() {
        waitIdle();
        eectl.write(0, now);
    }
};

TEST_F(EectlTest, ShiftsBytesWithBusyAndHoldsChipSelectUntilZeroIsWritten) {
    sendByte(kWren);
    EXPECT_EQ(eectl.read(now) & 0xC0000, 0xC0000u) << "busy while shifting, chip select held";
    off();
    for (uint8_t b : {kWrite, uint8_t(0), uint8_t(0x40), uint8_t(0x5A), uint8_t(0xC3)}) sendByte(b);
    EXPECT_EQ(mem.at(0x40), 0xFF) << "nothing written before chip select goes off";
    off();
    EXPECT_TRUE(part.writeInProgress(now));
    now += 5000;
    for (uint8_t b : {kRead, uint8_t(0), uint8_t(0x40)}) sendByte(b);
    EXPECT_EQ(receiveByte(), 0x5A);
    EXPECT_EQ(receiveByte(), 0xC3);
    off();
}

TEST_F(EectlTest, WriteWhileBusyIsLost) {
    sendByte(kWren);
    eectl.write(0, now);  // still shifting: the release is ignored
    EXPECT_NE(eectl.read(now) & 0x40000, 0u);
    now += 10;
    EXPECT_EQ(eectl.read(now) & 0xB0000, 0u) << "start bits and busy clear after the shift";
    off();
    EXPECT_EQ(host.status(), 0x02);
}

}  // namespace
