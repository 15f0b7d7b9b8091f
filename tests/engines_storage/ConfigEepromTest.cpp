// The configuration-EEPROM engine against the simulated Microwire part behind
// the bridge's CNTRL lines: word order, the 9056's input enable, the write,
// verify and timeout paths.
#include <gtest/gtest.h>

#include "EngineSupport.h"
#include "tcf/Tcf.h"

namespace {

using namespace enginetest;

constexpr uint32_t kCs = 0x02000000;
constexpr uint32_t kDi = 0x04000000;
constexpr uint32_t kInputEnable = 0x80000000;

uint16_t Word(testsupport::SimRack& rack, unsigned card, unsigned index) {
    const sim::NvRegion& mem = rack.rack().card(card).eepromBytes();
    return static_cast<uint16_t>(mem.at(2 * index) << 8 | mem.at(2 * index + 1));
}

std::vector<uint8_t> Contents(testsupport::SimRack& rack, unsigned card) {
    const sim::NvRegion& mem = rack.rack().card(card).eepromBytes();
    return std::vector<uint8_t>(mem.data(), mem.data() + mem.size());
}

// CNTRL writes of the card (offset `cntrl` in space 0), in order.
std::vector<uint32_t> CntrlWrites(testsupport::SimRack& rack, uint32_t cntrl) {
    std::vector<uint32_t> out;
    for (const Access& a : Accesses(rack)) {
        if (a.function.rfind("card", 0) == 0 && a.is("w", "0", cntrl)) out.push_back(a.value);
    }
    return out;
}

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

// A card of `spec`, opened, with an update file for `module` whose header and
// configuration image (the model's preset unless one is given) are loaded as
// the flash command loads them.
struct LoadedCard {
    LoadedCard(const std::string& spec, int module, const Bytes& image = {},
               const std::string& profile = testsupport::runProfile())
        : rack({spec}, profile), file(Build(tcf::FileContent{module, {}, image, {}, {}})) {
        OpenCard(pci, 0);
        loaded = LoadHeader(pci, file, log.log());
    }
    int program() { return pci.ProgramEeprom(&log.log()); }

    testsupport::SimRack rack;
    CVjxPci pci;
    CapturedLog log;
    UpdateFile file;
    int loaded = 0;
};

struct PresetCase {
    const char* spec;
    int module;
    int model;
    uint32_t cntrl;      // CNTRL offset of the card's bridge chip
    uint16_t device;     // word 0: the bridge's device ID
    unsigned subIdWord;  // word holding the subsystem ID
    uint16_t subId;
};

class ConfigEepromPreset : public ::testing::TestWithParam<std::tuple<PresetCase, std::string>> {};

TEST_P(ConfigEepromPreset, WritesPresetInWordOrderAndLeavesAnEqualEepromAlone) {
    const PresetCase& c = std::get<0>(GetParam());
    LoadedCard card(std::string(c.spec) + ",eeprom=old", c.module, {}, std::get<1>(GetParam()));
    auto& rack = card.rack;
    auto& log = card.log;
    ASSERT_EQ(card.loaded, 1) << log.text();

    ASSERT_EQ(card.program(), 1) << log.text();
    EXPECT_EQ(Count(log.text(), "Write EEPROM..."), 1u) << log.text();
    // The stage leaves the part write-protected again.
    EXPECT_FALSE(rack.rack().card(1).eeprom().writeEnabled());

    // Each 32-bit value sits in two words, upper half first.
    EXPECT_EQ(Word(rack, 1, 0), c.device);
    EXPECT_EQ(Word(rack, 1, 1), 0x10B5);
    EXPECT_EQ(Word(rack, 1, c.subIdWord), c.subId);
    const tcf::Preset preset = tcf::ConfigEepromPreset(c.model);
    ASSERT_GT(preset.size, 0u);
    for (unsigned i = 0; 4 * i + 4 <= preset.size; ++i) {
        SCOPED_TRACE(i);
        const unsigned char* v = preset.data + 4 * i;
        EXPECT_EQ(Word(rack, 1, 2 * i), v[3] << 8 | v[2]);
        EXPECT_EQ(Word(rack, 1, 2 * i + 1), v[1] << 8 | v[0]);
    }

    // Again: one read command, nothing written, nothing logged.
    const auto before = Contents(rack, 1);
    rack.clearTrace();
    ASSERT_EQ(card.program(), 1) << log.text();
    EXPECT_EQ(Count(log.text(), "Write EEPROM..."), 1u);
    EXPECT_EQ(Selects(CntrlWrites(rack, c.cntrl)), 2u);  // the look at its ready line, one read
    EXPECT_EQ(Contents(rack, 1), before);
}

std::string PresetName(const ::testing::TestParamInfo<std::tuple<PresetCase, std::string>>& info) {
    return std::string("Card") + std::get<0>(info.param).spec + "_" + std::get<1>(info.param);
}

INSTANTIATE_TEST_SUITE_P(
    Bridges, ConfigEepromPreset,
    ::testing::Combine(::testing::Values(PresetCase{"84", 84, 11, 0x6C, 0x9056, 34, 0x3355},
                                         PresetCase{"80", 80, 6, 0x50, 0x9030, 6, 0x3068}),
                       Profiles()),
    PresetName);

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

class LeftBusy : public ::testing::TestWithParam<std::tuple<BusyCase, bool>> {};

TEST_P(LeftBusy, ThePartIsWaitedForUpToItsLongestCycle) {
    const BusyCase& c = std::get<0>(GetParam());
    const bool forever = std::get<1>(GetParam());
    LoadedCard card(c.spec, c.module, {}, "max");
    ASSERT_EQ(card.loaded, 1) << card.log.text();
    sim::Card& part = card.rack.rack().card(1);
    const sim::BusyPeriod busy = forever ? sim::BusyPeriod::never()
                                         : sim::BusyPeriod::until(sim::virtualClock().nowUs() + c.longestUs);
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
    EXPECT_EQ(card.log.text().find(c.stillBusy) != std::string::npos, forever) << card.log.text();
    // The part already holds the image: read once it answers, it is left alone.
    EXPECT_EQ(card.log.text().find("Write"), std::string::npos) << card.log.text();
}

INSTANTIATE_TEST_SUITE_P(
    Parts, LeftBusy,
    ::testing::Combine(
        ::testing::Values(BusyCase{"eeprom", "80", 80, 15000, "Configuration EEPROM still busy after 15 ms"},
                          BusyCase{"eeprom", "84", 84, 15000, "Configuration EEPROM still busy after 15 ms"},
                          BusyCase{"pcie", "84", 84, 5000, "PCIe EEPROM still busy after 5 ms"},
                          BusyCase{"epcs", "84", 84, 10000000,
                                   "FPGA configuration device still busy after 10000 ms"}),
        ::testing::Bool()),
    [](const ::testing::TestParamInfo<LeftBusy::ParamType>& info) {
        return std::string(std::get<0>(info.param).name) + std::string(std::get<0>(info.param).spec, 2) +
               (std::get<1>(info.param) ? "Forever" : "Longest");
    });

TEST(ConfigEeprom, PresetOf9030StartsAsTheBridgeExpects) {
    LoadedCard card("80,eeprom=old", 80);
    auto& rack = card.rack;
    auto& log = card.log;
    ASSERT_EQ(card.loaded, 1) << log.text();
    ASSERT_EQ(card.program(), 1) << log.text();
    const uint16_t expected[] = {0x9030, 0x10B5, 0x0000, 0x0000, 0x0480, 0x0001};
    for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(Word(rack, 1, i), expected[i]) << i;
    // The 9030 has no input-enable bit; it is never driven.
    for (uint32_t v : CntrlWrites(rack, 0x50)) EXPECT_EQ(v & kInputEnable, 0u);
}

TEST(ConfigEeprom, The9056SamplesOnlyWithInputEnabledAndDrivesOnlyWithItOff) {
    LoadedCard card("84,eeprom=old", 84);
    auto& rack = card.rack;
    auto& log = card.log;
    ASSERT_EQ(card.loaded, 1);
    rack.clearTrace();
    // The verify after the write reads correct data only when the input
    // enable was set for every sample.
    ASSERT_EQ(card.program(), 1) << log.text();

    const auto writes = CntrlWrites(rack, 0x6C);
    ASSERT_FALSE(writes.empty());
    size_t enabled = 0;
    for (size_t i = 1; i < writes.size(); ++i) {
        if ((writes[i] ^ writes[i - 1]) & kDi) {
            EXPECT_EQ(writes[i] & kInputEnable, 0u) << i;
        }
        if (writes[i] & kInputEnable) ++enabled;
    }
    EXPECT_GT(enabled, 0u);
    // Between commands: chip select low, input enable off.
    EXPECT_EQ(writes.back() & (kCs | kInputEnable), 0u);
}

TEST(ConfigEeprom, ShortImageWritesWholeValuesOnly) {
    LoadedCard card("84", 84, {0x78, 0x56, 0x34, 0x12, 0xAA, 0xBB});
    auto& rack = card.rack;
    auto& log = card.log;
    ASSERT_EQ(card.loaded, 1) << log.text();
    const uint16_t word2 = Word(rack, 1, 2);

    ASSERT_EQ(card.program(), 1) << log.text();
    EXPECT_EQ(Word(rack, 1, 0), 0x1234);
    EXPECT_EQ(Word(rack, 1, 1), 0x5678);
    EXPECT_EQ(Word(rack, 1, 2), word2);  // the two trailing bytes are not written
    // ... nor compared: a second run finds nothing to do.
    ASSERT_EQ(card.program(), 1);
    EXPECT_EQ(Count(log.text(), "Write EEPROM..."), 1u);
}

TEST(ConfigEepromFault, WriteThatNeverCompletesTimesOutAfterHundredTries) {
    LoadedCard card("84,eeprom=old,eeprom-fault=never-ready", 84);
    auto& rack = card.rack;
    auto& log = card.log;
    ASSERT_EQ(card.loaded, 1);
    const auto before = Contents(rack, 1);
    rack.clearTrace();

    const uint64_t start = NowUs();
    EXPECT_EQ(card.program(), 0);
    const uint64_t waited = NowUs() - start;
    EXPECT_GE(waited, 100u * 10000u);
    EXPECT_LT(waited, 101u * 10000u);
    EXPECT_NE(log.text().find("Write EEPROM...\n"), std::string::npos);
    EXPECT_NE(log.text().find("Error -------------------\nFailed writing EEPROM!"), std::string::npos)
        << log.text();
    EXPECT_EQ(Contents(rack, 1), before);
    const auto writes = CntrlWrites(rack, 0x6C);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back() & (kCs | kInputEnable), 0u);
}

TEST(ConfigEepromFault, StuckBitIsCaughtByTheCompare) {
    testsupport::SimRack rack({"84,eeprom-fault=stuck:3"});
    CVjxPci pci;
    OpenCard(pci, 0);
    CapturedLog log;
    // One value whose two words invert every bit the EEPROM holds now.
    const uint16_t w0 = static_cast<uint16_t>(~Word(rack, 1, 0));
    const uint16_t w1 = static_cast<uint16_t>(~Word(rack, 1, 1));
    const Bytes image = {static_cast<unsigned char>(w1), static_cast<unsigned char>(w1 >> 8),
                         static_cast<unsigned char>(w0), static_cast<unsigned char>(w0 >> 8)};
    UpdateFile file(Build(tcf::FileContent{84, {}, image, {}, {}}));
    ASSERT_EQ(LoadHeader(pci, file, log.log()), 1);
    EXPECT_EQ(pci.ProgramEeprom(&log.log()), 0);
    // Every bit but the stuck one took the write.
    EXPECT_EQ(Word(rack, 1, 0), w0 ^ 0x0008);
    EXPECT_NE(log.text().find("Write EEPROM...\n"), std::string::npos);
    EXPECT_NE(log.text().find("Error -------------------\nFailed comparing EEPROM!"), std::string::npos)
        << log.text();
}

TEST(ConfigEepromFault, AbsentEepromIsReportedWithoutWriting) {
    LoadedCard card("84,eeprom=old,eeprom-fault=absent", 84);
    auto& rack = card.rack;
    auto& log = card.log;
    ASSERT_EQ(card.loaded, 1);
    rack.clearTrace();
    EXPECT_EQ(card.program(), 0);
    EXPECT_NE(log.text().find("Error -------------------\nFailed reading EEPROM!"), std::string::npos)
        << log.text();
    EXPECT_EQ(log.text().find("Write EEPROM..."), std::string::npos);
    const auto writes = CntrlWrites(rack, 0x6C);
    EXPECT_EQ(Selects(writes), 2u);  // the look at its ready line, one read
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back() & (kCs | kInputEnable), 0u);
}

}  // namespace
