// The FPGA loading itself from the EPCS, its hold and release, and the
// configuration image format. (The board's pull-ups that let the FPGA go
// when the host makes its lines inputs: the host's configuration stage.)
#include <gtest/gtest.h>

#include "WireDrivers.h"
#include "sim/Checksums.h"

namespace {

using devtest::EpcsHost;

TEST(FpgaImageTest, BuildsParsesAndDetectsEveryKindOfDamage) {
    const std::vector<uint8_t> image = sim::fpga_image::make(0x2A, 1000);
    ASSERT_EQ(image.size(), 1000u);
    uint8_t version = 0;
    size_t size = 0;
    std::vector<uint8_t> followed = image;
    followed.resize(4096, 0xFF);
    ASSERT_TRUE(sim::fpga_image::parse(followed.data(), followed.size(), &version, &size));
    EXPECT_EQ(version, 0x2A);
    EXPECT_EQ(size, 1000u);
    EXPECT_FALSE(sim::fpga_image::parse(image.data(), 999, &version)) << "cut short";
    for (size_t at : {size_t(0), size_t(9), size_t(13), size_t(17), size_t(20), size_t(500), size_t(999)}) {
        std::vector<uint8_t> bad = image;
        bad[at] ^= 0x04;
        EXPECT_FALSE(sim::fpga_image::parse(bad.data(), bad.size(), &version)) << "byte " << at;
    }
    const std::vector<uint8_t> erased(4096, 0xFF);
    EXPECT_FALSE(sim::fpga_image::parse(erased.data(), erased.size(), &version));
    EXPECT_EQ(sim::fpga_image::make(1, 10).size(), sim::fpga_image::kMinSize);
    // The tool recognises a programmed device by the CRC behind the image:
    // two images of one size must not share it.
    const std::vector<uint8_t> one = sim::fpga_image::make(1, 4096), two = sim::fpga_image::make(2, 4096);
    EXPECT_NE(sim::jamCrc32(one.data(), one.size()), sim::jamCrc32(two.data(), two.size()));
}

class FpgaTest : public ::testing::Test {
protected:
    FpgaTest() {
        mem.init(sim::FpgaBlock::epcsSizeFor(0x12), 0xFF);
        timing.fpgaClockHz = 120000000;  // a 3000-byte image loads in 200 us
    }
    // Writes an image as the update tool does: least significant bit first,
    // waiting out the erase and each page.
    void programImage(const std::vector<uint8_t>& image, bool lsbFirst = true) {
        host.take();
        host.simple(0x06);
        host.simple(0xC7);
        host.now += timing.epcsBulkEraseEpcs4Us;
        for (size_t at = 0; at < image.size(); at += 256) {
            const size_t n = std::min<size_t>(256, image.size() - at);
            host.program(uint32_t(at), std::vector<uint8_t>(image.begin() + at, image.begin() + at + n),
                         lsbFirst);
            host.now += timing.epcsPageUs;
        }
    }
    sim::NvRegion mem;
    sim::Timing timing;
    sim::FpgaBlockOptions options;
    sim::FpgaBlock block{mem, timing, options};
    EpcsHost host{block};
};

TEST_F(FpgaTest, ReleasedFpgaLoadsAValidImageAndHoldUnconfiguresIt) {
    programImage(sim::fpga_image::make(0x37, 3000));
    EXPECT_FALSE(block.configured(host.now));
    EXPECT_EQ(block.version(host.now), 0xFF);
    EXPECT_FALSE(block.lineLevel(4, host.now));
    const uint64_t changes = block.changeCount();
    for (int line : {0, 2, 3}) host.release(line);  // the FPGA drives them while it loads
    host.drive(5, false);                           // release
    EXPECT_FALSE(block.lineLevel(4, host.now)) << "still loading";
    host.now += 200;
    EXPECT_TRUE(block.lineLevel(4, host.now));
    EXPECT_EQ(block.version(host.now), 0x37);
    EXPECT_GT(block.changeCount(), changes);
    EXPECT_TRUE(block.state().configured);

    host.drive(5, true);  // held again
    EXPECT_EQ(block.version(host.now), 0xFF);
    EXPECT_FALSE(block.state().configured);
    host.now += 5;
    host.drive(8, true);  // released the other way
    host.now += 200;
    EXPECT_EQ(block.version(host.now), 0x37);
}

TEST_F(FpgaTest, ImageStoredMsbFirstIsNotRecognised) {
    programImage(sim::fpga_image::make(5, 600), false);
    host.letGo();
    host.now += 1000;
    EXPECT_FALSE(block.configured(host.now));
}

// (A part that never configures: the host's configuration stage over one.)
TEST_F(FpgaTest, DamagedOrErasedStaysUnconfigured) {
    std::vector<uint8_t> image = sim::fpga_image::make(5, 600);
    image[300] ^= 1;
    programImage(image);
    host.letGo();
    host.now += 1000;
    EXPECT_EQ(block.version(host.now), 0xFF);

    programImage(sim::fpga_image::make(5, 600));
    host.letGo();
    options.versionOverride = 0;
    block.setOptions(options);
    block.reload(host.now);
    host.now += 200;
    EXPECT_TRUE(block.configured(host.now));
    EXPECT_EQ(block.version(host.now), 0) << "what VERSION reads is the override";

    host.take();
    host.simple(0x06);
    host.simple(0xC7);
    host.letGo();
    host.now += 1000;
    EXPECT_FALSE(block.configured(host.now)) << "an erased device holds no image";
}

// The state saved by one process restores in the next; a power cycle loads
// whatever the device holds. (That the device's bytes persist: the rack tests.)
TEST_F(FpgaTest, StateRestoresAndPowerCycleLoadsFromTheDevice) {
    programImage(sim::fpga_image::make(0x44, 256));
    sim::FpgaBlock b(mem, timing, options);
    sim::FpgaState saved;
    saved.configured = true;
    saved.version = 0x21;
    saved.loading = sim::BusyPeriod::until(100);
    saved.epcsBusy = sim::BusyPeriod::until(3000);
    b.restore(saved);
    EXPECT_EQ(b.version(99), 0xFF) << "a load still running in the saved state";
    EXPECT_EQ(b.version(100), 0x21) << "restored state is current";
    EXPECT_TRUE(b.state().epcsBusy == saved.epcsBusy) << "the EPCS's cycle is part of the state";
    b.powerCycle(5000);
    EXPECT_EQ(b.version(5000), 0xFF);
    EXPECT_EQ(b.version(5200), 0x44);
    EXPECT_EQ(b.state().version, 0x44);
}

TEST_F(FpgaTest, LoadTakesOneActiveSerialClockPerBitOfTheImage) {
    // 400 KiB at 20 MHz (typical) and 10 MHz (the slowest clock).
    constexpr uint64_t kImage = 400 * 1024;
    EXPECT_EQ(sim::Timing::typical().fpgaLoadUs(kImage), 163840u);
    EXPECT_EQ(sim::Timing::max().fpgaLoadUs(kImage), 327680u);
    EXPECT_EQ(sim::Timing::instant().fpgaLoadUs(kImage), 0u);
    timing = sim::Timing::max();
    programImage(sim::fpga_image::make(3, kImage));
    const uint64_t released = host.now;
    host.letGo();
    EXPECT_FALSE(block.configured(released + 327679));
    EXPECT_TRUE(block.configured(released + 327680));
}

}  // namespace
