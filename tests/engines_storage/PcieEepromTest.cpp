// The PCIe-EEPROM engine against the simulated PEX 8111 EEPROM shifter and
// its SPI part: the command sequence on EECTL, the verify, and the failure
// of a stuck shifter.
#include <gtest/gtest.h>

#include <cstdio>

#include "EngineSupport.h"
#include "tcf/Tcf.h"

namespace {

using namespace enginetest;

constexpr uint32_t kEectl = 0x1004;
const uint8_t kLinuxPreset[26] = {0x5A, 0x03, 0x12, 0x00, 0x34, 0x00, 0x50, 0x00, 0x00,
                                  0x00, 0x48, 0x00, 0x02, 0x00, 0x00, 0x00, 0x20, 0x10,
                                  0x80, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};

// A PCIe card with the model's preset loaded from an update file.
struct PcieCard : OneCard {
    explicit PcieCard(const std::string& spec, const std::string& profile = testsupport::runProfile())
        : OneCard(spec, profile), file(Build(tcf::FileContent{84, {}, {}, {}, {}})) {
        EXPECT_EQ(load(file), 1) << log.text();
        rack.clearTrace();
    }
    int program() { return pci.ProgramPcieEeprom(&log.log()); }
    std::vector<uint8_t> contents() {
        const sim::NvRegion& mem = card().pcieEepromBytes();
        return std::vector<uint8_t>(mem.data(), mem.data() + mem.size());
    }
    // EECTL writes as "off", "sXX" (send) or "r" (receive), with their times.
    std::vector<std::string> eectl(std::vector<uint64_t>* times = nullptr) {
        std::vector<std::string> out;
        for (const Access& a : accesses()) {
            if (a.function.rfind("bridge", 0) != 0 || !a.is("w", "0", kEectl)) continue;
            char text[16];
            std::snprintf(text, sizeof text, "s%02x", a.value & 0xFF);
            out.push_back(a.value == 0          ? "off"
                          : (a.value & 0x10000) ? text
                          : (a.value & 0x20000) ? "r"
                                                : "?");
            if (times) times->push_back(a.timeUs);
        }
        return out;
    }
    UpdateFile file;
};

class PcieEepromProfile : public ::testing::TestWithParam<std::string> {};

TEST_P(PcieEepromProfile, WritesThePresetInOneCommandAndVerifiesItLater) {
    PcieCard c("84,pcie-eeprom=old", GetParam());
    ASSERT_EQ(c.pci.PcieEepromImageSize(), sizeof kLinuxPreset);
    ASSERT_EQ(c.program(), 1) << c.log.text();
    EXPECT_EQ(Count(c.log.text(), "Write PCIe EEPROM..."), 1u);

    // First a look at the status (a write cycle an interrupted run started
    // would be waited for), a read of the whole image, then the write enable,
    // one write command and, after the write cycle, the read-back.
    std::vector<std::string> look = {"off", "s05", "r", "off", "off", "s03", "s00", "s00"};
    look.insert(look.end(), 26, "r");
    look.push_back("off");
    std::vector<std::string> expected = look;
    expected.insert(expected.end(), {"off", "s06", "off", "s02", "s00", "s00"});
    for (uint8_t b : kLinuxPreset) {
        char text[8];
        std::snprintf(text, sizeof text, "s%02x", b);
        expected.push_back(text);
    }
    expected.push_back("off");
    const size_t writeEnd = expected.size() - 1;
    expected.insert(expected.end(), look.begin() + 4, look.end());
    std::vector<uint64_t> times;
    ASSERT_EQ(c.eectl(&times), expected);
    EXPECT_GE(times[writeEnd + 2] - times[writeEnd], 100000u);

    const auto contents = c.contents();
    ASSERT_GE(contents.size(), sizeof kLinuxPreset);
    EXPECT_TRUE(std::equal(std::begin(kLinuxPreset), std::end(kLinuxPreset), contents.begin()));

    // Now equal: one read, no write, nothing logged.
    c.rack.clearTrace();
    ASSERT_EQ(c.program(), 1);
    EXPECT_EQ(Count(c.log.text(), "Write PCIe EEPROM..."), 1u);
    EXPECT_EQ(c.eectl(), look);
}

INSTANTIATE_TEST_SUITE_P(Profiles, PcieEepromProfile, Profiles());

TEST(PcieEeprom, StuckShifterEndsTheTransferAndFailsWithoutWriting) {
    PcieCard c("84,pcie-eeprom=old,eectl=stuck");
    const auto before = c.contents();
    const uint64_t start = NowUs();
    EXPECT_EQ(c.program(), 0);
    // One busy wait of 100 reads 1 ms apart, then the stage gives up.
    EXPECT_LT(NowUs() - start, 1000000u);
    EXPECT_FALSE(Has(c.log.text(), "Write PCIe EEPROM...")) << c.log.text();
    EXPECT_TRUE(Has(c.log.text(), "Error -------------------\nFailed reading PCIe EEPROM!")) << c.log.text();
    const auto writes = c.eectl();
    ASSERT_FALSE(writes.empty());
    for (const auto& w : writes) EXPECT_EQ(w, "off");  // chip select off, no byte sent
    EXPECT_EQ(c.contents(), before);
    EXPECT_TRUE(c.pci.BridgeWritable());
}

}  // namespace
