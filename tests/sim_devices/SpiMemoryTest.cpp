// The FPGA's configuration memories driven bit by bit as their data sheets
// describe: the EPCS on its four lines, and the PCIe-core card's serial flash
// through the FPGA's SPICTL port. What both share is one table over both
// parts; each part's own commands follow. (The EPCS's silicon IDs and sizes:
// the host's configuration stage over EPCS1, EPCS4 and an unknown ID.)
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "WireDrivers.h"

namespace {

using devtest::EpcsHost;
using devtest::kAccess, devtest::kDeselect, devtest::kMiso;
using devtest::SpictlHost;
using Bytes = std::vector<uint8_t>;

// Data-sheet figures per part and profile (golden values): page program, a
// 64 KiB sector or block erase, the EPCS1's and EPCS4's bulk erase, and the
// flash's non-volatile register write.
struct PartCase {
    const char* name;
    bool flash;
    const char* profile;
    uint64_t pageUs, eraseUs, bulkEpcs1Us, bulkEpcs4Us, registerUs;
};

const PartCase kParts[] = {
    {"epcs_typical", false, "typical", 1500, 2000000, 3000000, 5000000, 0},
    {"epcs_max", false, "max", 5000, 3000000, 6000000, 10000000, 0},
    {"flash_instant", true, "instant", 0, 0, 0, 0, 0},
    {"flash_typical", true, "typical", 450, 450000, 0, 0, 145000},
    {"flash_max", true, "max", 1350, 1150000, 0, 0, 750000},
};

class SpiMemory : public ::testing::TestWithParam<PartCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim::Timing::byName(GetParam().profile, timing));
        options.serialFlash = GetParam().flash;
        options.flashUniqueId = 0x0123456789ABCDEFull;
        build();
    }
    void build() {
        mem.init(sim::FpgaBlock::deviceSizeFor(options), 0xFF);
        block.reset(new sim::FpgaBlock(mem, timing, options));
        if (!options.serialFlash) {
            host.reset(epcs = new EpcsHost(*block));
            epcs->take();
            return;
        }
        regs.init(5, 0x00);
        block->setFlashRegisters(&regs);
        block->powerCycle(0);
        host.reset(flash = new SpictlHost(*block));
        host->now = 1000000;  // the FPGA has loaded (or failed to) by now
        flash->open();
    }
    uint64_t pageUs() const { return GetParam().pageUs; }
    uint64_t eraseUs() const { return GetParam().eraseUs; }
    sim::Timing timing;
    sim::FpgaBlockOptions options;
    sim::NvRegion mem, regs;
    std::unique_ptr<sim::FpgaBlock> block;
    std::unique_ptr<devtest::SpiPort> host;
    EpcsHost* epcs = nullptr;
    SpictlHost* flash = nullptr;
};

class Epcs : public SpiMemory {};
class SerialFlash : public SpiMemory {};

TEST_P(SpiMemory, ReadTakesTheAddressMsbFirstAndRunsOnAcrossTheEnd) {
    const uint32_t last = uint32_t(mem.size() - 1);
    mem.writeByte(last, 0x11);
    mem.writeByte(0, 0x22);
    mem.writeByte(0x012345, 0x81);
    mem.writeByte(0x012346, 0x42);
    EXPECT_EQ(host->read(0x012345, 2), (Bytes{0x81, 0x42}));
    EXPECT_EQ(host->read(last, 2), (Bytes{0x11, 0x22}));
    EXPECT_EQ(host->read(0x01012345, 1)[0], 0x81) << "address bits above the part's size are ignored";
}

TEST_P(SpiMemory, ProgramNeedsWriteEnableOnlyClearsBitsAndWrapsInsideThePage) {
    host->program(0x100, {0x00}, false, false);
    EXPECT_EQ(mem.at(0x100), 0xFF) << "no write enable";
    host->program(0x100, {0xF0, 0x3C});
    if (pageUs()) {
        EXPECT_EQ(host->status(), 0x03) << "busy, latch shown until the cycle ends";
        if (flash) {
            EXPECT_EQ(flash->jedec(), (Bytes{0xFF, 0xFF, 0xFF})) << "only the status answers";
        }
    }
    EXPECT_EQ(host->busyFor(10, 100000), pageUs());
    EXPECT_EQ(host->status(), 0x00) << "latch cleared by the program";
    host->program(0x100, {0x0F, 0xFF});
    host->now += pageUs();
    EXPECT_EQ(host->read(0x100, 2), (Bytes{0x00, 0x3C}));

    host->program(0x2FE, {1, 2, 3});
    host->now += pageUs();
    EXPECT_EQ(host->read(0x2FE, 2), (Bytes{1, 2}));
    EXPECT_EQ(mem.at(0x200), 3) << "the page wraps";
    EXPECT_EQ(mem.at(0x300), 0xFF);

    host->simple(0x06);  // chip select rising off a byte boundary: nothing
    host->select();
    host->byte(host->programOp);
    host->address(0x400);
    host->byte(0x00);
    host->strayBit();
    host->deselect();
    EXPECT_EQ(mem.at(0x400), 0xFF);
    EXPECT_EQ(host->status() & 1, 0);
}

TEST_P(SpiMemory, SectorEraseSetsItsSixtyFourKibToFFForItsTime) {
    for (uint32_t a : {0x10000, 0x1FFFF, 0x20000}) mem.writeByte(a, 0x00);
    host->erase(0x10010, false);
    EXPECT_EQ(mem.at(0x10000), 0x00) << "no write enable";
    host->erase(0x10010);
    EXPECT_EQ(mem.at(0x10000), 0xFF);
    EXPECT_EQ(mem.at(0x1FFFF), 0xFF);
    EXPECT_EQ(mem.at(0x20000), 0x00) << "only that sector";
    if (eraseUs()) {
        EXPECT_EQ(host->read(0x20000, 1)[0], 0xFF) << "busy: no data driven";
    }
    host->simple(0x06);
    EXPECT_EQ(host->busyFor(50000, 10000000), eraseUs());
    EXPECT_EQ(host->status() & 2, eraseUs() ? 0 : 2) << "WREN sent while busy is ignored";
    EXPECT_EQ(host->read(0x20000, 1)[0], 0x00);
}

TEST_P(SpiMemory, HangingEraseAndProgramNeverEndAndChangeNothing) {
    options.eraseHangs = true;
    options.writeHangs = true;
    build();
    mem.writeByte(0, 0x00);
    if (flash) {
        host->erase(0);
    } else {
        host->simple(0x06);
        host->simple(0xC7);  // the bulk erase
    }
    EXPECT_EQ(host->busyFor(500000, 30000000), 30000000u);
    EXPECT_EQ(mem.at(0), 0x00) << "the hanging erase changed nothing";
    if (flash) {
        block->powerCycle(host->now);  // a power cycle ends it
        flash->open();
    } else {
        build();  // a new part, same options
    }
    host->program(0x1000, {0x00});
    EXPECT_EQ(host->busyFor(1000, 1000000), 1000000u);
    EXPECT_EQ(mem.at(0x1000), 0xFF);
}

TEST_P(Epcs, BulkEraseNeedsTheLatchAndTakesEachPartsTime) {
    mem.writeByte(0x20000, 0x00);
    host->simple(0xC7);
    EXPECT_EQ(host->status() & 1, 0) << "bulk erase needs the latch";
    host->simple(0x06);
    host->simple(0xC7);
    EXPECT_EQ(host->busyFor(500000, 20000000), GetParam().bulkEpcs4Us);
    EXPECT_EQ(mem.at(0x20000), 0xFF);
    options.epcsId = 0x10;
    build();
    host->simple(0x06);
    host->simple(0xC7);
    EXPECT_EQ(host->busyFor(500000, 20000000), GetParam().bulkEpcs1Us);
}

// (Its JEDEC ID, and another one set: the Windows program's identification
// of the part.)
TEST_P(SerialFlash, IdentifiesItselfAndIsA64MbitPart) {
    EXPECT_EQ(mem.size(), 8u * 1024 * 1024);
    // The unique ID after four dummy bytes; the host's ten zero bytes read
    // the dummies and the first six ID bytes.
    EXPECT_EQ(host->command({0x4B, 0, 0, 0, 0}, 8),
              (std::vector<uint8_t>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(host->command({0xAB, 0, 0, 0}, 1)[0], 0x16) << "RES: electronic signature of 64 Mbit";
}

TEST_P(SerialFlash, PortOnlyReachesTheFlashWithHostAccessOn) {
    flash->put(kDeselect);  // access off: the FPGA leaves the pins to the pulls
    host->select();
    flash->reg = uint8_t(flash->reg & ~kAccess);
    flash->put(flash->reg);
    EXPECT_EQ(host->byte(0x9F), 0xFF);
    EXPECT_EQ(host->byte(0), 0xFF) << "nothing selected: data out floats high";
    flash->open();
    EXPECT_EQ(flash->jedec()[0], 0x01);
    EXPECT_EQ(block->readSpictl(host->now) & ~kMiso, kAccess | 0x08 | kDeselect) << "the register reads back";
}

TEST_P(SerialFlash, Register2ReadAndWrittenThroughAnyRegisterAccess) {
    regs.writeByte(2, 0x00);
    build();
    EXPECT_EQ(flash->readRegister(0x000002), 0x00);
    host->command({0x71, 0, 0, 2, 0x02}, 0);
    EXPECT_EQ(flash->readRegister(0x000002), 0x00) << "no write enable: ignored";
    host->simple(0x06);
    EXPECT_EQ(host->status() & 0x02, 0x02);
    host->command({0x71, 0, 0, 2, 0x02}, 0);
    if (GetParam().registerUs) {
        EXPECT_EQ(flash->readRegister(0x000002), 0xFF) << "busy: only the status answers";
        host->now += 10000;  // the 10 ms a host might allow is far from enough
        EXPECT_EQ(host->status() & 1, 1);
    }
    EXPECT_EQ(host->busyFor(1000, 2000000), GetParam().registerUs ? GetParam().registerUs - 10000 : 0);
    EXPECT_EQ(host->status(), 0x00) << "latch cleared by the write";
    EXPECT_EQ(flash->readRegister(0x000002), 0x02);
    EXPECT_EQ(flash->readRegister(0x800002), 0x02) << "volatile copy follows";
    EXPECT_EQ(regs.at(2), 0x02) << "non-volatile: kept beside the memory";
    block->powerCycle(host->now);
    flash->open();
    EXPECT_EQ(flash->readRegister(0x000002), 0x02);
    block.reset(new sim::FpgaBlock(mem, timing, options));  // as the next process builds it
    block->setFlashRegisters(&regs);
    host.reset(flash = new SpictlHost(*block));
    flash->open();
    EXPECT_EQ(flash->readRegister(0x800002), 0x02);
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

// The FPGA configures itself from the flash (bytes as stored, the host's
// most-significant-bit-first order) and keeps running while the flash is
// erased; a reload while the flash erases reads nothing valid. (A reload
// taking a rewritten image: the Windows program's updates of these cards.)
TEST_P(SerialFlash, FpgaRunsFromTheFlashAndAReloadDuringAnEraseFails) {
    std::vector<uint8_t> v3 = sim::fpga_image::make(3, 4096);
    mem.write(0, v3.data(), v3.size());
    block->powerCycle(0);
    const uint64_t load = timing.fpgaLoadUs(4096);
    EXPECT_EQ(block->configured(load ? load - 1 : 0), load == 0);
    EXPECT_EQ(block->version(load), 3);
    host->now = load;
    flash->open();
    host->erase(0);
    EXPECT_EQ(block->version(host->now), 3) << "still the loaded configuration";
    block->reload(host->now);
    EXPECT_EQ(block->readSpictl(host->now) & 0x1F, 0) << "the reload gave the port back to the FPGA";
    EXPECT_FALSE(block->configured(host->now + 10000000));
}

INSTANTIATE_TEST_SUITE_P(Parts, SpiMemory, ::testing::ValuesIn(kParts),
                         [](const ::testing::TestParamInfo<PartCase>& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(Profiles, Epcs, ::testing::ValuesIn(kParts, kParts + 2),
                         [](const ::testing::TestParamInfo<PartCase>& info) { return info.param.profile; });
INSTANTIATE_TEST_SUITE_P(Profiles, SerialFlash, ::testing::ValuesIn(kParts + 2, kParts + 5),
                         [](const ::testing::TestParamInfo<PartCase>& info) { return info.param.profile; });

}  // namespace
