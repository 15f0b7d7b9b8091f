// The EPCS configuration device driven on its four wires, busy for the data
// sheet's typical and maximum times.
#include <gtest/gtest.h>

#include "WireDrivers.h"

namespace {

using devtest::EpcsHost;

// Data-sheet figures of the EPCS1 and EPCS4 (golden values).
struct EpcsFigures {
    const char* profile;
    uint64_t pageUs, sectorEraseUs, bulkEraseEpcs1Us, bulkEraseEpcs4Us;
};

class EpcsTest : public ::testing::TestWithParam<EpcsFigures> {
protected:
    void build(uint8_t id) {
        options.epcsId = id;
        mem.init(sim::FpgaBlock::epcsSizeFor(id), 0xFF);
        block.reset(new sim::FpgaBlock(mem, timing, options));
        host.reset(new EpcsHost(*block));
        host->take();
    }
    void SetUp() override {
        ASSERT_TRUE(sim::Timing::byName(GetParam().profile, timing));
        build(0x12);
    }
    // Polls RDSR every `step` microseconds; how long until WIP cleared.
    uint64_t busyFor(uint64_t step, uint64_t limit) {
        const uint64_t start = host->now;
        while (host->status() & 1) {
            if (host->now - start >= limit) return limit;
            host->now += step;
        }
        return host->now - start;
    }
    uint64_t pageUs() const { return GetParam().pageUs; }
    sim::NvRegion mem;
    sim::Timing timing;
    sim::FpgaBlockOptions options;
    std::unique_ptr<sim::FpgaBlock> block;
    std::unique_ptr<EpcsHost> host;
};

TEST_P(EpcsTest, AnswersItsSiliconIdAndHasItsSize) {
    for (uint8_t id : {0x10, 0x12, 0x14}) {
        build(id);
        EXPECT_EQ(host->id(), id);
        EXPECT_EQ(mem.size(), id == 0x10 ? 128u * 1024 : 512u * 1024);
    }
}

TEST_P(EpcsTest, ReadTakesAddressMsbFirstAndRunsOnAcrossTheEnd) {
    mem.writeByte(0x012345, 0x81);
    mem.writeByte(0x012346, 0x42);
    EXPECT_EQ(host->read(0x012345, 2), (std::vector<uint8_t>{0x81, 0x42}));
    build(0x10);
    mem.writeByte(0x1FFFF, 0x11);
    mem.writeByte(0, 0x22);
    EXPECT_EQ(host->read(0x1FFFF, 2), (std::vector<uint8_t>{0x11, 0x22}));
}

TEST_P(EpcsTest, ProgramNeedsWriteEnableOnlyClearsBitsAndWrapsInsideThePage) {
    host->select();
    host->byte(0x02);
    host->address(0x100);
    host->byte(0x00);
    host->deselect();
    EXPECT_EQ(mem.at(0x100), 0xFF) << "no write enable";
    host->program(0x100, {0xF0, 0x3C});
    EXPECT_EQ(host->status(), 0x03) << "busy, latch shown until the cycle ends";
    EXPECT_EQ(busyFor(100, 100000), pageUs());
    EXPECT_EQ(host->status(), 0x00) << "latch cleared by the program";
    host->program(0x100, {0x0F, 0xFF});
    host->now += pageUs();
    EXPECT_EQ(host->read(0x100, 2), (std::vector<uint8_t>{0x00, 0x3C}));

    host->program(0x2FE, {1, 2, 3});
    host->now += pageUs();
    EXPECT_EQ(host->read(0x2FE, 2), (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(mem.at(0x200), 3) << "the page wraps";
    EXPECT_EQ(mem.at(0x300), 0xFF);
    host->simple(0x06);
    host->select();
    host->byte(0x02);
    host->address(0x400);
    host->byte(0x00);
    host->drive(2, false);
    host->drive(0, true);
    host->drive(2, true);  // one bit too many
    host->deselect();
    EXPECT_EQ(mem.at(0x400), 0xFF);
    EXPECT_EQ(host->status() & 1, 0);
}

TEST_P(EpcsTest, HostSendingLsbFirstStoresReversedBytesAndImageViewUndoesIt) {
    host->program(0, {0x01, 0x80, 0x35}, true);
    host->now += pageUs();
    EXPECT_EQ(mem.at(0), 0x80);
    EXPECT_EQ(mem.at(1), 0x01);
    EXPECT_EQ(mem.at(2), 0xAC);
    EXPECT_EQ(block->imageView(3), (std::vector<uint8_t>{0x01, 0x80, 0x35}));
    EXPECT_EQ(host->read(0, 3, true), (std::vector<uint8_t>{0x01, 0x80, 0x35}));
}

TEST_P(EpcsTest, EraseTimesAndBusyIgnoresEverythingButStatus) {
    mem.writeByte(0x10000, 0x00);
    mem.writeByte(0x20000, 0x00);
    host->simple(0x06);
    host->select();
    host->byte(0xD8);
    host->address(0x10010);
    host->deselect();
    EXPECT_EQ(mem.at(0x10000), 0xFF);
    EXPECT_EQ(mem.at(0x20000), 0x00) << "only the 64 KiB sector";
    EXPECT_EQ(host->read(0x20000, 1)[0], 0xFF) << "busy: DATA not driven";
    host->simple(0x06);
    EXPECT_EQ(busyFor(100000, 20000000), GetParam().sectorEraseUs);  // in 100 ms steps
    EXPECT_EQ(host->status() & 2, 0) << "WREN sent while busy was ignored";

    host->simple(0xC7);
    EXPECT_EQ(host->status() & 1, 0) << "bulk erase needs the latch";
    host->simple(0x06);
    host->simple(0xC7);
    EXPECT_EQ(busyFor(500000, 20000000), GetParam().bulkEraseEpcs4Us);
    EXPECT_EQ(mem.at(0x20000), 0xFF);
    build(0x10);
    host->simple(0x06);
    host->simple(0xC7);
    EXPECT_EQ(busyFor(500000, 20000000), GetParam().bulkEraseEpcs1Us);
}

TEST_P(EpcsTest, HangingEraseAndWriteNeverFinishAndChangeNothing) {
    options.eraseHangs = true;
    options.writeHangs = true;
    block->setOptions(options);
    mem.writeByte(7, 0x00);
    host->simple(0x06);
    host->simple(0xC7);
    EXPECT_EQ(busyFor(1000000, 60000000), 60000000u);
    EXPECT_EQ(mem.at(7), 0x00);
    build(0x12);  // a new part, same options
    host->program(8, {0x00});
    EXPECT_EQ(busyFor(1000, 1000000), 1000000u);
    EXPECT_EQ(mem.at(8), 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Profiles, EpcsTest,
                         ::testing::Values(EpcsFigures{"typical", 1500, 2000000, 3000000, 5000000},
                                           EpcsFigures{"max", 5000, 3000000, 6000000, 10000000}),
                         [](const ::testing::TestParamInfo<EpcsFigures>& info) {
                             return info.param.profile;
                         });

}  // namespace
