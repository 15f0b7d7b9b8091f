// The PCIe-core card's serial configuration flash, driven through the FPGA's
// SPICTL port bit by bit as the flash's data sheet describes SPI mode 0:
// data in sampled on the rising clock edge, data out changing after the
// falling one, most significant bit first. Every timing profile.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/devices/FpgaBlock.h"

namespace {

// SPICTL bits as the card's FPGA documents them (golden values).
constexpr uint8_t kClk = 0x01, kMosi = 0x02, kAccess = 0x04, kDeselect = 0x10, kMiso = 0x20;

struct SpictlHost {
    explicit SpictlHost(sim::FpgaBlock& block) : f(block) {}
    sim::FpgaBlock& f;
    uint8_t reg = 0;
    uint64_t now = 1000;

    void put(uint8_t v) {
        reg = v;
        f.writeSpictl(v, now);
    }
    void open() { put(kAccess | 0x08 | kDeselect); }
    void select() { put(uint8_t((reg & ~(kDeselect | kClk)) | kAccess)); }
    void deselect() { put(uint8_t((reg & ~kClk) | kDeselect)); }
    uint8_t byte(uint8_t out) {
        uint8_t in = 0;
        for (int bit = 7; bit >= 0; --bit) {
            put(uint8_t((reg & ~(kMosi | kClk)) | ((out >> bit) & 1 ? kMosi : 0)));
            put(uint8_t(reg | kClk));
            if (f.readSpictl(now) & kMiso) in |= uint8_t(1u << bit);
            put(uint8_t(reg & ~kClk));
        }
        return in;
    }
    void address4(uint32_t a) {
        for (int shift : {24, 16, 8, 0}) byte(uint8_t(a >> shift));
    }
    std::vector<uint8_t> command(std::vector<uint8_t> out, size_t receive) {
        select();
        std::vector<uint8_t> in;
        for (uint8_t b : out) byte(b);
        for (size_t i = 0; i < receive; ++i) in.push_back(byte(0));
        deselect();
        return in;
    }
    void simple(uint8_t op) { command({op}, 0); }
    uint8_t status() { return command({0x05}, 1)[0]; }
    std::vector<uint8_t> jedec() { return command({0x9F}, 3); }
    uint8_t readRegister(uint32_t a) {
        return command({0x65, uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a), 0}, 1)[0];
    }
    std::vector<uint8_t> read(uint32_t a, size_t n) {
        select();
        byte(0x0C);
        address4(a);
        byte(0);  // dummy
        std::vector<uint8_t> v;
        for (size_t i = 0; i < n; ++i) v.push_back(byte(0));
        deselect();
        return v;
    }
    void program(uint32_t a, const std::vector<uint8_t>& data) {
        simple(0x06);
        select();
        byte(0x12);
        address4(a);
        for (uint8_t b : data) byte(b);
        deselect();
    }
    void erase(uint32_t a) {
        simple(0x06);
        select();
        byte(0xDC);
        address4(a);
        deselect();
    }
    // Polls RDSR every `step` µs; how long until WIP cleared (limit if never).
    uint64_t busyFor(uint64_t step, uint64_t limit) {
        const uint64_t start = now;
        while (status() & 1) {
            if (now - start >= limit) return limit;
            now += step;
        }
        return now - start;
    }
};

class SerialFlash : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim::Timing::byName(GetParam(), timing));
        build();
    }
    void build() {
        options.serialFlash = true;
        options.flashUniqueId = 0x0123456789ABCDEFull;
        mem.init(sim::FpgaBlock::deviceSizeFor(options), 0xFF);
        regs.init(5, 0x00);
        block.reset(new sim::FpgaBlock(mem, timing, options));
        block->setFlashRegisters(&regs);
        block->powerCycle(0);
        host.reset(new SpictlHost(*block));
        host->now = 1000000;  // the FPGA has loaded (or failed to) by now
        host->open();
    }
    // Data-sheet figures of the part, per profile (golden values).
    uint64_t pageUs() const { return GetParam() == "instant" ? 0 : GetParam() == "typical" ? 450 : 1350; }
    uint64_t blockUs() const {
        return GetParam() == "instant" ? 0 : GetParam() == "typical" ? 450000 : 1150000;
    }
    uint64_t registerUs() const {
        return GetParam() == "instant" ? 0 : GetParam() == "typical" ? 145000 : 750000;
    }
    sim::Timing timing;
    sim::FpgaBlockOptions options;
    sim::NvRegion mem, regs;
    std::unique_ptr<sim::FpgaBlock> block;
    std::unique_ptr<SpictlHost> host;
};

TEST_P(SerialFlash, IdentifiesItselfAndIsA64MbitPart) {
    EXPECT_EQ(mem.size(), 8u * 1024 * 1024);
    EXPECT_EQ(host->jedec(), (std::vector<uint8_t>{0x01, 0x60, 0x17}));
    // The unique ID after four dummy bytes; the host's ten zero bytes read
    // the dummies and the first six ID bytes.
    EXPECT_EQ(host->command({0x4B, 0, 0, 0, 0}, 8),
              (std::vector<uint8_t>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(host->command({0xAB, 0, 0, 0}, 1)[0], 0x16) << "RES: electronic signature of 64 Mbit";
    options.flashManufacturer = 0xC2;
    options.flashDevice = 0x2017;
    build();
    EXPECT_EQ(host->jedec(), (std::vector<uint8_t>{0xC2, 0x20, 0x17}));
}

TEST_P(SerialFlash, PortOnlyReachesTheFlashWithHostAccessOn) {
    host->put(kDeselect);  // access off: the FPGA leaves the pins to the pulls
    host->select();
    host->reg = uint8_t(host->reg & ~kAccess);
    host->put(host->reg);
    EXPECT_EQ(host->byte(0x9F), 0xFF);
    EXPECT_EQ(host->byte(0), 0xFF) << "nothing selected: data out floats high";
    host->open();
    EXPECT_EQ(host->jedec()[0], 0x01);
    EXPECT_EQ(block->readSpictl(host->now) & ~kMiso, kAccess | 0x08 | kDeselect) << "the register reads back";
}

TEST_P(SerialFlash, Register2ReadAndWrittenThroughAnyRegisterAccess) {
    regs.writeByte(2, 0x00);
    build();
    EXPECT_EQ(host->readRegister(0x000002), 0x00);
    host->command({0x71, 0, 0, 2, 0x02}, 0);
    EXPECT_EQ(host->readRegister(0x000002), 0x00) << "no write enable: ignored";
    host->simple(0x06);
    EXPECT_EQ(host->status() & 0x02, 0x02);
    host->command({0x71, 0, 0, 2, 0x02}, 0);
    if (registerUs()) {
        EXPECT_EQ(host->readRegister(0x000002), 0xFF) << "busy: only the status answers";
        host->now += 10000;  // the 10 ms a host might allow is far from enough
        EXPECT_EQ(host->status() & 1, 1);
    }
    EXPECT_EQ(host->busyFor(1000, 2000000), registerUs() ? registerUs() - 10000 : 0);
    EXPECT_EQ(host->status(), 0x00) << "latch cleared by the write";
    EXPECT_EQ(host->readRegister(0x000002), 0x02);
    EXPECT_EQ(host->readRegister(0x800002), 0x02) << "volatile copy follows";
    EXPECT_EQ(regs.at(2), 0x02) << "non-volatile: kept beside the memory";
    block->powerCycle(host->now);
    host->open();
    EXPECT_EQ(host->readRegister(0x000002), 0x02);
    block.reset(new sim::FpgaBlock(mem, timing, options));  // as the next process builds it
    block->setFlashRegisters(&regs);
    host.reset(new SpictlHost(*block));
    host->open();
    EXPECT_EQ(host->readRegister(0x800002), 0x02);
}

TEST_P(SerialFlash, ReadTakesFourByteAddressAndDummyAndRunsOnAcrossTheEnd) {
    mem.writeByte(0x7FFFFF, 0x11);
    mem.writeByte(0, 0x22);
    mem.writeByte(0x012345, 0x81);
    EXPECT_EQ(host->read(0x012345, 1)[0], 0x81);
    EXPECT_EQ(host->read(0x7FFFFF, 2), (std::vector<uint8_t>{0x11, 0x22}));
    EXPECT_EQ(host->read(0x01012345, 1)[0], 0x81) << "address bits above the part's size are ignored";
}

TEST_P(SerialFlash, ProgramNeedsWriteEnableOnlyClearsBitsAndWrapsInsideThePage) {
    host->select();
    host->byte(0x12);
    host->address4(0x100);
    host->byte(0x00);
    host->deselect();
    EXPECT_EQ(mem.at(0x100), 0xFF) << "no write enable";
    host->program(0x100, {0xF0, 0x3C});
    if (pageUs()) {
        EXPECT_EQ(host->status(), 0x03) << "busy, latch shown until the cycle ends";
        EXPECT_EQ(host->jedec(), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF})) << "only the status answers";
    }
    EXPECT_EQ(host->busyFor(10, 100000), pageUs() ? (pageUs() + 9) / 10 * 10 : 0);
    EXPECT_EQ(host->status(), 0x00) << "latch cleared by the program";
    host->program(0x100, {0x0F, 0xFF});
    host->now += pageUs();
    EXPECT_EQ(host->read(0x100, 2), (std::vector<uint8_t>{0x00, 0x3C}));

    host->program(0x2FE, {1, 2, 3});
    host->now += pageUs();
    EXPECT_EQ(host->read(0x2FE, 2), (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(mem.at(0x200), 3) << "the page wraps";
    EXPECT_EQ(mem.at(0x300), 0xFF);

    host->simple(0x06);  // chip select rising off a byte boundary: nothing
    host->select();
    host->byte(0x12);
    host->address4(0x400);
    host->byte(0x00);
    host->put(uint8_t(host->reg & ~kMosi));
    host->put(uint8_t(host->reg | kClk));
    host->deselect();
    EXPECT_EQ(mem.at(0x400), 0xFF);
    EXPECT_EQ(host->status() & 1, 0);
}

TEST_P(SerialFlash, BlockEraseSetsItsSixtyFourKibToFFForItsTime) {
    mem.writeByte(0x10000, 0x00);
    mem.writeByte(0x1FFFF, 0x00);
    mem.writeByte(0x20000, 0x00);
    host->select();
    host->byte(0xDC);
    host->address4(0x10010);
    host->deselect();
    EXPECT_EQ(mem.at(0x10000), 0x00) << "no write enable";
    host->erase(0x10010);
    EXPECT_EQ(mem.at(0x10000), 0xFF);
    EXPECT_EQ(mem.at(0x1FFFF), 0xFF);
    EXPECT_EQ(mem.at(0x20000), 0x00) << "only that block";
    if (blockUs()) {
        EXPECT_EQ(host->read(0x20000, 1)[0], 0xFF) << "busy: no data driven";
    }
    host->simple(0x06);
    EXPECT_EQ(host->busyFor(50000, 10000000), blockUs());
    EXPECT_EQ(host->status() & 2, blockUs() ? 0 : 2) << "WREN sent while busy is ignored";
    EXPECT_EQ(host->read(0x20000, 1)[0], 0x00);
}

TEST_P(SerialFlash, SlowPartTakesItsOwnTimesInEveryProfile) {
    options.flashEraseUs = 2100000;
    options.flashPageUs = 20000;
    build();
    host->erase(0x30000);
    EXPECT_EQ(host->busyFor(100000, 10000000), 2100000u);
    host->program(0x30000, {0x00});
    EXPECT_EQ(host->busyFor(1000, 1000000), 20000u);
    EXPECT_EQ(mem.at(0x30000), 0x00);
}

TEST_P(SerialFlash, HangingEraseAndProgramNeverEnd) {
    options.eraseHangs = true;
    options.writeHangs = true;
    build();
    mem.writeByte(0, 0x00);
    host->erase(0);
    EXPECT_EQ(host->busyFor(500000, 30000000), 30000000u);
    EXPECT_EQ(mem.at(0), 0x00) << "the hanging erase changed nothing";
    block->powerCycle(host->now);  // a power cycle ends it
    host->open();
    host->program(0x1000, {0x00});
    EXPECT_EQ(host->busyFor(1000, 1000000), 1000000u);
    EXPECT_EQ(mem.at(0x1000), 0xFF);
}

// The FPGA configures itself from the flash (bytes as stored, the host's
// most-significant-bit-first order) and keeps running while the flash is
// rewritten; a reload takes the new content.
TEST_P(SerialFlash, FpgaRunsFromTheFlashUntilItReloads) {
    std::vector<uint8_t> v3 = sim::fpga_image::make(3, 4096), v7 = sim::fpga_image::make(7, 4096);
    mem.write(0, v3.data(), v3.size());
    block->powerCycle(0);
    const uint64_t load = timing.fpgaLoadUs(4096);
    EXPECT_EQ(block->configured(load ? load - 1 : 0), load == 0);
    EXPECT_EQ(block->version(load), 3);
    host->now = load;
    host->open();
    host->erase(0);
    host->now += blockUs();
    for (size_t a = 0; a < v7.size(); a += 256) {
        host->program(uint32_t(a), std::vector<uint8_t>(v7.begin() + a, v7.begin() + a + 256));
        host->now += pageUs();
    }
    EXPECT_EQ(block->version(host->now), 3) << "still the loaded configuration";
    EXPECT_EQ(block->imageView(4096), v7);
    block->reload(host->now);
    EXPECT_EQ(block->readSpictl(host->now) & 0x1F, 0) << "the reload gave the port back to the FPGA";
    EXPECT_EQ(block->version(host->now + load), 7);

    host->now += load;
    host->open();
    host->erase(0);  // a reload while the flash erases reads nothing valid
    block->reload(host->now);
    EXPECT_FALSE(block->configured(host->now + 10000000));
}

INSTANTIATE_TEST_SUITE_P(Profiles, SerialFlash, ::testing::Values("instant", "typical", "max"));

}  // namespace
