// `vjxflash -flash` bringing the two EEPROMs of a PCIe card to the presets.
#include <gtest/gtest.h>

#include "Process.h"
#include "tests/support/GoldenPresets.h"

using e2e::TempDir;

namespace {

class FlashEeproms : public ::testing::Test {
protected:
    void SetUp() override {
        rack = tmp.path("rack");
        auto r = e2e::vjxsim({"new", rack, "--card", "84,eeprom=old,pcie-eeprom=old"});
        ASSERT_EQ(r.status, 0) << r.err;
        file = tmp.path("f.tcf");
        r = e2e::tcftool({"build", "-o", file, "--module", "84"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    TempDir tmp;
    std::string rack;
    std::string file;
};

TEST_F(FlashEeproms, WritesBothPresetsThenLeavesAnUpToDateCardAlone) {
    const std::string mcuFlash = e2e::vjxsim({"dump", rack, "1", "mcu-flash"}).out;
    auto r = e2e::vjxflashOn(rack, {"-flash", "1", file});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // A file without firmware leaves the microcontroller alone.
    EXPECT_EQ(e2e::vjxsim({"dump", rack, "1", "mcu-flash"}).out, mcuFlash);
    EXPECT_TRUE(e2e::contains(r.out, "\nProgramming card 1 with file \"" + file +
                                         "\"...\nWrite EEPROM...\n"
                                         "Write PCIe EEPROM...\n"))
        << r.out;
    EXPECT_TRUE(e2e::contains(r.out, "Programming VJX PCIe K card was successful.\n")) << r.out;

    // Each 32-bit value of the image sits in two words, upper half first;
    // the dump gives the words high byte first.
    auto dump = e2e::vjxsim({"dump", rack, "1", "eeprom"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    const auto& preset = testsupport::kPcieK;  // the VJX PCIe K's subsystem ID 0x3355
    ASSERT_GE(dump.out.size(), preset.size());
    for (size_t i = 0; i < preset.size(); i += 4)
        for (size_t k = 0; k < 4; ++k)
            EXPECT_EQ(static_cast<uint8_t>(dump.out[i + k]), preset[i + 3 - k]) << "byte " << i + k;

    auto pcie = e2e::vjxsim({"dump", rack, "1", "pcie-eeprom"});
    ASSERT_EQ(pcie.status, 0) << pcie.err;
    ASSERT_GE(pcie.out.size(), testsupport::kPex26.size());
    EXPECT_EQ(std::vector<uint8_t>(pcie.out.begin(), pcie.out.begin() + testsupport::kPex26.size()),
              testsupport::kPex26);

    // The new content takes effect at the next power-up and keeps the model.
    ASSERT_EQ(e2e::vjxsim({"power-cycle", rack}).status, 0);
    auto list = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_TRUE(e2e::contains(list.out, "Detected: VJX PCIe K card\n")) << list.out;

    auto again = e2e::vjxflashOn(rack, {"-flash", "1", file});
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_FALSE(e2e::contains(again.out, "Write EEPROM...")) << again.out;
    EXPECT_FALSE(e2e::contains(again.out, "Write PCIe EEPROM...")) << again.out;
}

// A failing part, a slow-mode card, a file for another model or none at
// all: status 3 with the reason, and, unless a part failed its compare,
// neither EEPROM changed.
TEST_F(FlashEeproms, FailuresEndWithStatus3AndTheirReason) {
    const std::string other = tmp.path("s.tcf"), none = tmp.path("no such %s file.tcf");
    ASSERT_EQ(e2e::tcftool({"build", "-o", other, "--module", "80"}).status, 0);
    const struct {
        const char* option;  // vjxsim set, "" for none
        std::string file;
        std::string says;
        bool unchanged = true;  // false: a failing write or compare may have changed them
    } cases[] = {
        {"eeprom-fault=absent", file, "Failed reading EEPROM!"},
        {"eeprom-fault=stuck", file, "Failed comparing EEPROM!", false},
        {"pcie-eeprom-fault=dead", file, "Failed comparing PCIe EEPROM!", false},
        {"slow", file,
         "Using slow FPGA programming mode\n------------------- Error -------------------\nThe card's PCIe "
         "bridge is reachable only through configuration cycles, which this driver cannot write; the card "
         "can't be updated in slow mode."},
        {"", other,
         "Incompatible flash update file!\nCard is a \"VJX PCIe K\", but\n" + other +
             "\nis designed for a \"VJX PCI S\" card.\n"},
        {"", none, "Can't open file \"" + none + "\"!"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.file);
        rack = tmp.path("rack" + std::to_string(++n));
        ASSERT_EQ(e2e::vjxsim({"new", rack, "--card", "84,eeprom=old,pcie-eeprom=old"}).status, 0);
        if (*c.option) {
            ASSERT_EQ(e2e::vjxsim({"set", rack, "1", c.option}).status, 0);
        }
        const std::string ee = e2e::vjxsim({"dump", rack, "1", "eeprom"}).out;
        const std::string pcie = e2e::vjxsim({"dump", rack, "1", "pcie-eeprom"}).out;
        auto r = e2e::vjxflashOn(rack, {"-flash", "1", c.file});
        EXPECT_EQ(r.status, 3) << r.out;
        EXPECT_TRUE(e2e::contains(r.out, c.says)) << r.out;
        if (c.unchanged) {
            EXPECT_EQ(e2e::vjxsim({"dump", rack, "1", "eeprom"}).out, ee);
            EXPECT_EQ(e2e::vjxsim({"dump", rack, "1", "pcie-eeprom"}).out, pcie);
        }
    }
}

}  // namespace
