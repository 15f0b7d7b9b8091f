// The PCIe-EEPROM engine against the simulated PEX 8111 EEPROM shifter and
// its SPI part: the command sequence on EECTL, the verify, and the failures
// of a dead part, a stuck shifter and a bridge the driver cannot write.
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

struct EectlWrite {
    std::string what;  // "off", "sXX" (send), "r" (receive)
    uint64_t timeUs;
};

std::vector<EectlWrite> EectlWrites(testsupport::SimRack& rack) {
    std::vector<EectlWrite> out;
    for (const Access& a : Accesses(rack)) {
        if (a.function.rfind("bridge", 0) != 0 || !a.is("w", "0", kEectl)) continue;
        char text[16];
        if (a.value == 0) {
            std::snprintf(text, sizeof text, "off");
        } else if (a.value & 0x10000) {
            std::snprintf(text, sizeof text, "s%02x", a.value & 0xFF);
        } else if (a.value & 0x20000) {
            std::snprintf(text, sizeof text, "r");
        } else {
            std::snprintf(text, sizeof text, "?%x", a.value);
        }
        out.push_back({text, a.timeUs});
    }
    return out;
}

std::vector<std::string> ReadSequence(size_t count) {
    std::vector<std::string> s = {"off", "s03", "s00", "s00"};
    s.insert(s.end(), count, "r");
    s.push_back("off");
    return s;
}

std::vector<uint8_t> PcieContents(testsupport::SimRack& rack, unsigned card) {
    const sim::NvRegion& mem = rack.rack().card(card).pcieEepromBytes();
    return std::vector<uint8_t>(mem.data(), mem.data() + mem.size());
}

bool BridgeWritten(testsupport::SimRack& rack) {
    for (const Access& a : Accesses(rack)) {
        if (a.function.rfind("bridge", 0) == 0 && (a.op == "w" || a.op == "cw")) return true;
    }
    return false;
}

class PcieEepromProfile : public ::testing::TestWithParam<std::string> {};

TEST_P(PcieEepromProfile, WritesThePresetInOneCommandAndVerifiesItLater) {
    testsupport::SimRack rack({"84,pcie-eeprom=old"}, GetParam());
    CVjxPci pci;
    OpenCard(pci, 0);
    CapturedLog log;
    UpdateFile file(Build(tcf::FileContent{84, {}, {}, {}, {}}));
    ASSERT_EQ(LoadHeader(pci, file, log.log()), 1) << log.text();
    ASSERT_EQ(pci.PcieEepromImageSize(), sizeof kLinuxPreset);
    rack.clearTrace();

    ASSERT_EQ(pci.ProgramPcieEeprom(&log.log()), 1) << log.text();
    EXPECT_EQ(Count(log.text(), "Write PCIe EEPROM..."), 1u);

    const auto writes = EectlWrites(rack);
    // First a look at the status: a write cycle an interrupted run started
    // would be waited for.
    const std::vector<std::string> statusLook = {"off", "s05", "r", "off"};
    std::vector<std::string> expected = statusLook;
    const auto read = ReadSequence(26);
    expected.insert(expected.end(), read.begin(), read.end());
    const size_t writeStart = expected.size();
    expected.insert(expected.end(), {"off", "s06", "off", "s02", "s00", "s00"});
    for (uint8_t b : kLinuxPreset) {
        char text[8];
        std::snprintf(text, sizeof text, "s%02x", b);
        expected.push_back(text);
    }
    expected.push_back("off");
    const size_t writeEnd = expected.size() - 1;
    const auto verify = ReadSequence(26);
    expected.insert(expected.end(), verify.begin(), verify.end());
    std::vector<std::string> got;
    for (const auto& w : writes) got.push_back(w.what);
    ASSERT_EQ(got, expected);
    // The write enable comes first, and the part gets its write cycle time
    // before the read-back starts.
    EXPECT_EQ(writes[writeStart + 1].what, "s06");
    EXPECT_GE(writes[writeEnd + 2].timeUs - writes[writeEnd].timeUs, 100000u);

    const auto contents = PcieContents(rack, 1);
    ASSERT_GE(contents.size(), sizeof kLinuxPreset);
    EXPECT_TRUE(std::equal(std::begin(kLinuxPreset), std::end(kLinuxPreset), contents.begin()));

    // Now equal: one read, no write, nothing logged.
    rack.clearTrace();
    ASSERT_EQ(pci.ProgramPcieEeprom(&log.log()), 1);
    EXPECT_EQ(Count(log.text(), "Write PCIe EEPROM..."), 1u);
    got.clear();
    for (const auto& w : EectlWrites(rack)) got.push_back(w.what);
    expected = statusLook;
    expected.insert(expected.end(), read.begin(), read.end());
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(Profiles, PcieEepromProfile, Profiles());

TEST(PcieEeprom, DeadEepromFailsTheCompare) {
    testsupport::SimRack rack({"84,pcie-eeprom=old,pcie-eeprom-fault=dead"});
    CVjxPci pci;
    OpenCard(pci, 0);
    CapturedLog log;
    UpdateFile file(Build(tcf::FileContent{84, {}, {}, {}, {}}));
    ASSERT_EQ(LoadHeader(pci, file, log.log()), 1);
    EXPECT_EQ(pci.ProgramPcieEeprom(&log.log()), 0);
    EXPECT_NE(log.text().find("Write PCIe EEPROM...\n"), std::string::npos) << log.text();
    EXPECT_NE(log.text().find("Error -------------------\nFailed comparing PCIe EEPROM!"), std::string::npos)
        << log.text();
}

TEST(PcieEeprom, StuckShifterEndsTheTransferAndFailsWithoutWriting) {
    testsupport::SimRack rack({"84,pcie-eeprom=old,eectl=stuck"});
    CVjxPci pci;
    OpenCard(pci, 0);
    CapturedLog log;
    UpdateFile file(Build(tcf::FileContent{84, {}, {}, {}, {}}));
    ASSERT_EQ(LoadHeader(pci, file, log.log()), 1);
    const auto before = PcieContents(rack, 1);
    rack.clearTrace();
    const uint64_t start = NowUs();

    EXPECT_EQ(pci.ProgramPcieEeprom(&log.log()), 0);
    // One busy wait of 100 reads 1 ms apart, then the stage gives up.
    EXPECT_LT(NowUs() - start, 1000000u);
    EXPECT_EQ(log.text().find("Write PCIe EEPROM..."), std::string::npos) << log.text();
    EXPECT_NE(log.text().find("Error -------------------\nFailed reading PCIe EEPROM!"), std::string::npos)
        << log.text();
    const auto writes = EectlWrites(rack);
    ASSERT_FALSE(writes.empty());
    for (const auto& w : writes) EXPECT_EQ(w.what, "off");  // chip select off, no byte sent
    EXPECT_EQ(PcieContents(rack, 1), before);
    EXPECT_TRUE(pci.BridgeWritable());
}

TEST(PcieEeprom, SlowModeCardIsRefusedBeforeTheBridgeIsTouched) {
    testsupport::SimRack rack({"84,pcie-eeprom=old,slow"});
    CVjxPci pci;
    OpenCard(pci, 0);
    ASSERT_TRUE(pci.SlowFpgaMode());
    CapturedLog log;
    UpdateFile file(Build(tcf::FileContent{84, {}, {}, {}, {}}));
    ASSERT_EQ(LoadHeader(pci, file, log.log()), 1);
    rack.clearTrace();
    EXPECT_EQ(pci.ProgramPcieEeprom(&log.log()), 0);
    EXPECT_NE(log.text().find(CVjxPci::kSlowModeRefused), std::string::npos) << log.text();
    EXPECT_FALSE(BridgeWritten(rack));
}

TEST(PcieEeprom, PciCardWithoutImageSkipsTheStage) {
    testsupport::SimRack rack({"80"});
    CVjxPci pci;
    OpenCard(pci, 0);
    CapturedLog log;
    UpdateFile file(Build(tcf::FileContent{80, {}, {}, {}, {}}));
    ASSERT_EQ(LoadHeader(pci, file, log.log()), 1);
    ASSERT_EQ(pci.PcieEepromImageSize(), 0u);
    rack.clearTrace();
    EXPECT_EQ(pci.ProgramPcieEeprom(&log.log()), 1);
    EXPECT_TRUE(Accesses(rack).empty());
    EXPECT_EQ(log.text().find("PCIe EEPROM"), std::string::npos) << log.text();
}

}  // namespace
