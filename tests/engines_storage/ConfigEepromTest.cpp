// The configuration-EEPROM engine against the simulated Microwire part behind
// the bridge's CNTRL lines: word order, the 9056's input enable, the write,
// verify and timeout paths.
#include <gtest/gtest.h>

#include "EngineSupport.h"
#include "sim/Clock.h"
#include "tcf/Tcf.h"

namespace {

using namespace enginetest;

constexpr uint32_t kCs = 0x02000000;
constexpr uint32_t kDi = 0x04000000;
constexpr uint32_t kInputEnable = 0x80000000;

// A card with an update file for `module` whose header and configuration
// image (the model's preset unless one is given) are loaded as the flash
// command loads them.
struct LoadedCard : OneCard {
    LoadedCard(const std::string& spec, int module, const Bytes& image = {},
               const std::string& profile = testsupport::runProfile())
        : OneCard(spec, profile), file(Build(tcf::FileContent{module, {}, image, {}, {}})) {
        loaded = load(file);
    }
    int program() { return pci.ProgramEeprom(&log.log()); }
    uint16_t word(unsigned index) {
        const sim::NvRegion& mem = card().eepromBytes();
        return static_cast<uint16_t>(mem.at(2 * index) << 8 | mem.at(2 * index + 1));
    }
    std::vector<uint8_t> contents() {
        const sim::NvRegion& mem = card().eepromBytes();
        return std::vector<uint8_t>(mem.data(), mem.data() + mem.size());
    }
    // CNTRL writes of the card (offset `cntrl` in space 0), in order.
    std::vector<uint32_t> cntrlWrites(uint32_t cntrl) {
        std::vector<uint32_t> out;
        for (const Access& a : accesses())
            if (a.function.rfind("card", 0) == 0 && a.is("w", "0", cntrl)) out.push_back(a.value);
        return out;
    }

    UpdateFile file;
    int loaded = 0;
};

// Commands started: chip select rising between two CNTRL writes.
size_t Selects(const std::vector<uint32_t>& writes) {
    size_t n = 0;
    uint32_t last = 0;
    for (uint32_t v : writes) {
        if ((v & kCs) && !(last & kCs)) ++n;
        last = v;
    }
    return n;
}

struct PresetCase {
    const char* spec;
    int module;
    uint32_t cntrl;              // CNTRL offset of the card's bridge chip
    bool inputEnable;            // the 9056 has an input-enable bit, the 9030 none
    std::vector<uint16_t> head;  // the first words as the bridge expects them
    unsigned subIdWord;          // word holding the subsystem ID
    uint16_t subId;
};

class ConfigEepromPreset : public ::testing::TestWithParam<std::tuple<PresetCase, std::string>> {};

TEST_P(ConfigEepromPreset, WritesPresetInWordOrderAndLeavesAnEqualEepromAlone) {
    const PresetCase& c = std::get<0>(GetParam());
    LoadedCard card(std::string(c.spec) + ",eeprom=old", c.module, {}, std::get<1>(GetParam()));
    ASSERT_EQ(card.loaded, 1) << card.log.text();

    // The verify after the write reads correct data only when the 9056's
    // input enable was set for every sample.
    ASSERT_EQ(card.program(), 1) << card.log.text();
    EXPECT_EQ(Count(card.log.text(), "Write EEPROM..."), 1u) << card.log.text();
    // The stage leaves the part write-protected again.
    EXPECT_FALSE(card.card().eeprom().writeEnabled());
    for (unsigned i = 0; i < c.head.size(); ++i) EXPECT_EQ(card.word(i), c.head[i]) << i;
    EXPECT_EQ(card.word(c.subIdWord), c.subId);
    // The whole preset's byte order is compared end to end (FlashEeproms).
    // The input enable is on only while the data line stays, and off
    // between commands with the chip select.
    const auto writes = card.cntrlWrites(c.cntrl);
    ASSERT_FALSE(writes.empty());
    size_t enabled = 0;
    for (size_t i = 1; i < writes.size(); ++i) {
        EXPECT_FALSE(((writes[i] ^ writes[i - 1]) & kDi) && (writes[i] & kInputEnable)) << i;
        if (writes[i] & kInputEnable) ++enabled;
    }
    EXPECT_EQ(enabled > 0, c.inputEnable);
    EXPECT_EQ(writes.back() & (kCs | kInputEnable), 0u);

    // Again: one read command, nothing written, nothing logged.
    const auto before = card.contents();
    card.rack.clearTrace();
    ASSERT_EQ(card.program(), 1) << card.log.text();
    EXPECT_EQ(Count(card.log.text(), "Write EEPROM..."), 1u);
    EXPECT_EQ(Selects(card.cntrlWrites(c.cntrl)), 2u);  // the look at its ready line, one read
    EXPECT_EQ(card.contents(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Bridges, ConfigEepromPreset,
    ::testing::Combine(
        ::testing::Values(PresetCase{"84", 84, 0x6C, true, {0x9056, 0x10B5}, 34, 0x3355},
                          PresetCase{
                              "80", 80, 0x50, false, {0x9030, 0x10B5, 0, 0, 0x0480, 0x0001}, 6, 0x3068}),
        Profiles()),
    [](const ::testing::TestParamInfo<ConfigEepromPreset::ParamType>& info) {
        return std::string("Card") + std::get<0>(info.param).spec + "_" + std::get<1>(info.param);
    });

// A part an interrupted program left in a write or erase cycle answers no
// command until the cycle ends: the engines wait for it, up to the part's
// longest cycle, and name the part when it is still busy after that.
struct BusyCase {
    const char* name;
    const char* spec;
    int module;
    uint64_t longestUs;  // the part's longest cycle, as the simulated part runs it at most
    const char* stillBusy;
};

// The tick count moves every millisecond, or every 15.625 ms as on Windows
// by default.
class LeftBusy : public ::testing::TestWithParam<std::tuple<BusyCase, bool, uint64_t>> {
protected:
    void TearDown() override { sim::virtualClock().setTickStepUs(1000); }
};

TEST_P(LeftBusy, ThePartIsWaitedForUpToItsLongestCycle) {
    const BusyCase& c = std::get<0>(GetParam());
    const bool forever = std::get<1>(GetParam());
    const uint64_t tickUs = std::get<2>(GetParam());
    LoadedCard card(c.spec, c.module, {}, "max");
    ASSERT_EQ(card.loaded, 1) << card.log.text();
    sim::Card& part = card.card();
    // The cycle starts 50 us before the tick count moves: a wait that
    // counts its time in ticks must still cover all of the cycle.
    sim::virtualClock().setTickStepUs(tickUs);
    sim::virtualClock().spend((2 * tickUs - 50 - NowUs() % tickUs) % tickUs);
    const sim::BusyPeriod busy =
        forever ? sim::BusyPeriod::never() : sim::BusyPeriod::until(NowUs() + c.longestUs);
    int result = 0;
    const std::string name = c.name;
    if (name == "eeprom") {
        part.eeprom().restoreBusy(busy);
        result = card.program();
    } else if (name == "pcie") {
        part.spiEeprom()->restoreBusy(busy);
        result = card.pci.ProgramPcieEeprom(&card.log.log());
    } else {
        part.fpga().restoreBusy(busy, sim::BusyPeriod());
        result = card.pci.CheckConfigDeviceFits(200u * 1024u, &card.log.log());
    }
    EXPECT_EQ(result, forever ? 0 : 1) << card.log.text();
    EXPECT_EQ(Has(card.log.text(), c.stillBusy), forever) << card.log.text();
    // The part already holds the image: read once it answers, it is left alone.
    EXPECT_FALSE(Has(card.log.text(), "Write")) << card.log.text();
}

INSTANTIATE_TEST_SUITE_P(
    Parts, LeftBusy,
    ::testing::Combine(
        ::testing::Values(BusyCase{"eeprom", "80", 80, 15000, "Configuration EEPROM still busy after 15 ms"},
                          BusyCase{"eeprom", "84", 84, 15000, "Configuration EEPROM still busy after 15 ms"},
                          BusyCase{"pcie", "84", 84, 5000, "PCIe EEPROM still busy after 5 ms"},
                          BusyCase{"epcs", "84", 84, 10000000,
                                   "FPGA configuration device still busy after 10000 ms"}),
        ::testing::Bool(), ::testing::Values(uint64_t{1000}, uint64_t{15625})),
    [](const ::testing::TestParamInfo<LeftBusy::ParamType>& info) {
        return std::string(std::get<0>(info.param).name) + std::string(std::get<0>(info.param).spec, 2) +
               (std::get<1>(info.param) ? "Forever" : "Longest") + "_tick" +
               std::to_string(std::get<2>(info.param));
    });

// A part that never ends its write cycle is polled a hundred times 10 ms
// apart; it is not changed, and the lines are left idle.
TEST(ConfigEepromFault, WriteThatNeverCompletesTimesOutAfterHundredTries) {
    LoadedCard card("84,eeprom=old,eeprom-fault=never-ready", 84);
    ASSERT_EQ(card.loaded, 1);
    const auto before = card.contents();
    card.rack.clearTrace();
    const uint64_t start = NowUs();
    EXPECT_EQ(card.program(), 0);
    EXPECT_GE(NowUs() - start, 100u * 10000u);
    EXPECT_LT(NowUs() - start, 101u * 10000u);
    EXPECT_TRUE(Has(card.log.text(), "Write EEPROM...\n")) << card.log.text();
    EXPECT_TRUE(Has(card.log.text(), "Error -------------------\nFailed writing EEPROM!")) << card.log.text();
    EXPECT_EQ(card.contents(), before);
    const auto writes = card.cntrlWrites(0x6C);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back() & (kCs | kInputEnable), 0u);
}

}  // namespace
