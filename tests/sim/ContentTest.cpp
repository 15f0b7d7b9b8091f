// What a new card carries: the model's presets in the EEPROMs, a valid FPGA
// image with the host's CRC behind it, firmware whose ISP version matches the
// FPGA, and blank parts on blank cards.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/Checksums.h"
#include "sim/Clock.h"
#include "sim/FileUtil.h"
#include "sim/devices/Microcontroller.h"
#include "tests/support/GoldenPresets.h"
#include "tests/support/SimRack.h"
#include "tests/support/TestUtil.h"

namespace simtest {
namespace {

uint16_t word(const sim::NvRegion& r, unsigned w) {
    return static_cast<uint16_t>(r.at(2 * w) << 8 | r.at(2 * w + 1));
}

TEST(Content, ChecksumsMatchTheirCatalogueValues) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(sim::jamCrc32(digits, 9), 0x340BC6D9u);
    EXPECT_EQ(sim::crc32Ieee(digits, 9), 0xCBF43926u);
    EXPECT_EQ(sim::reverseBits(0x01), 0x80);
    EXPECT_EQ(sim::reverseBits(0xCA), 0x53);
}

TEST(Content, EepromsHoldTheModelsPresetsInWordOrder) {
    testsupport::SimRack sr({"84", "94", "89"});
    const sim::NvRegion& e84 = sr.rack().card(1).eepromBytes();
    EXPECT_EQ(word(e84, 0), 0x9056);
    EXPECT_EQ(word(e84, 1), 0x10B5);
    EXPECT_EQ(word(e84, 34), 0x3355) << "value 17, upper half";
    EXPECT_EQ(word(e84, 35), 0x10B5);
    EXPECT_EQ(word(e84, 50), 0xFFFF) << "behind the 100-byte preset the EEPROM stays erased";
    const sim::NvRegion& e94 = sr.rack().card(2).eepromBytes();
    const uint16_t head[] = {0x9030, 0x10B5, 0x0000, 0x0000, 0x0480, 0x0001, 0x3025, 0x10B5};
    for (unsigned w = 0; w < 8; ++w) EXPECT_EQ(word(e94, w), head[w]) << w;
    EXPECT_EQ(word(e94, 62), 0x0224) << "tail 49 92 24 02";
    EXPECT_EQ(word(e94, 63), 0x9249);
    EXPECT_EQ(word(e94, 68), 0xFFFF);
    EXPECT_EQ(word(sr.rack().card(3).eepromBytes(), 0), 0x9050);
    EXPECT_EQ(word(sr.rack().card(3).eepromBytes(), 6), 0x2431);

    const sim::NvRegion& p = sr.rack().card(1).pcieEepromBytes();
    ASSERT_EQ(p.size(), 8192u);
    EXPECT_EQ(std::vector<uint8_t>(p.data(), p.data() + 26), testsupport::kPex26);
    EXPECT_EQ(p.at(26), 0xFF);
}

TEST(Content, FpgaImageCarriesTheHostCrcAndTheFirmwareMatchesIt) {
    testsupport::SimRack sr({"80,fpga=11,fpga-size=5000"});
    sim::Card& card = sr.rack().card(1);
    std::vector<uint8_t> view = card.fpga().imageView(5004);
    std::vector<uint8_t> image = sim::fpga_image::make(11, 5000);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), view.begin()));
    const uint32_t crc =
        sim::jamCrc32(view.data(), 5000);  // the update program's CRC (catalogue value above)
    EXPECT_EQ(view[5000] | view[5001] << 8 | view[5002] << 16 | static_cast<uint32_t>(view[5003]) << 24, crc);
    // Stored as the part received it: each byte bit-reversed.
    EXPECT_EQ(card.epcsBytes().at(0), sim::reverseBits(view[0]));
    EXPECT_EQ(card.fpga().version(sim::virtualClock().nowUs()), 11);

    sim::firmware_image::Version v;
    ASSERT_TRUE(sim::firmware_image::find(card.mcuFlashBytes().data(), card.mcuFlashBytes().size(), &v));
    EXPECT_EQ(sim::firmware_image::textFromVersion(v), "1.00");
    EXPECT_EQ(v.bytes[4], 11) << "ISP version equals the FPGA's VERSION";
}

TEST(Content, BlankCardsAreBlankEverywhere) {
    testsupport::SimRack sr({"blank-9056", "blank-9030,epcs=0x10"});
    for (unsigned n : {1u, 2u}) {
        sim::Card& card = sr.rack().card(n);
        for (const sim::NvRegion* r :
             {&card.eepromBytes(), &card.epcsBytes(), &card.mcuFlashBytes(), &card.mcuBootBytes()})
            EXPECT_EQ(std::count(r->data(), r->data() + r->size(), 0xFF), static_cast<long>(r->size())) << n;
        EXPECT_FALSE(card.fpga().configured(sim::virtualClock().nowUs()));
        EXPECT_EQ(card.mcu().runningVersion(), "");
    }
    EXPECT_EQ(sr.rack().card(2).epcsBytes().size(), 128u * 1024);
}

TEST(Content, AnImageThatDoesNotFitIsRefused) {
    testsupport::TempDir tmp;
    std::string error;
    auto rack = sim::Rack::create(tmp.path("r"), {"84,epcs=0x10,fpga-size=131069"}, sim::Timing::instant(),
                                  sim::virtualClock(), &error);
    EXPECT_FALSE(rack);
    EXPECT_NE(error.find("do not fit"), std::string::npos) << error;
    rack = sim::Rack::create(tmp.path("s"), {"84,epcs=0x10,fpga-size=131068"}, sim::Timing::instant(),
                             sim::virtualClock(), &error);
    EXPECT_TRUE(rack) << error;
}

}  // namespace
}  // namespace simtest
