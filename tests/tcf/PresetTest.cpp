// The built-in EEPROM images, byte for byte.
#include <gtest/gtest.h>

#include "TcfTestSupport.h"
#include "tcf/FileCheck.h"
#include "tcf/Tcf.h"
#include "tests/support/GoldenPresets.h"

using tcftest::Bytes;
using testsupport::kPcieK;
using testsupport::kPex26;

namespace {

Bytes Of(const tcf::Preset& p) {
    return p.size ? Bytes(p.data, p.data + p.size) : Bytes();
}

// The PCI 9030 loads, as the bridge's data book orders them, for the PCI S
// (subsystem 0x3068, later tail).
const Bytes kPciS = {
    0xB5, 0x10, 0x30, 0x90, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x80, 0x04, 0xB5, 0x10, 0x68, 0x30,  //
    0x40, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x48, 0x01, 0x48, 0x00, 0x00, 0x00, 0x00,  //
    0x06, 0x4C, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
    0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x00, 0x00, 0x81, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x00, 0x00, 0x43, 0x01, 0x30, 0x00, 0x00, 0x50, 0x78, 0x00, 0x00, 0x00, 0x00, 0x06,  //
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

// Each model's configuration preset is its bridge's loads with its own
// subsystem ID (PCI 9030: bytes 14-15, the earlier series with the earlier
// tail; PCI 9056: bytes 70-71, with the PEX 8111 preset). The PCI S (model 6)
// gets kPciS itself, the PCIe K (model 11) kPcieK. Models without updates
// and unknown ones have none.
TEST(Presets, EachModelCarriesItsBridgesLoadsWithItsSubsystemId) {
    const struct {
        int model;
        const Bytes* base;
        uint16_t subsystem;
        bool earlyTail;
    } rows[] = {{2, &kPciS, 0x2862, true},    {4, &kPciS, 0x2906, true},    {5, &kPciS, 0x2940, true},
                {7, &kPciS, 0x3025, true},    {6, &kPciS, 0x3068, false},   {13, &kPciS, 0x3463, false},
                {15, &kPciS, 0x3591, false},  {8, &kPcieK, 0x3352, false},  {9, &kPcieK, 0x3353, false},
                {10, &kPcieK, 0x3354, false}, {11, &kPcieK, 0x3355, false}, {12, &kPcieK, 0x3415, false},
                {14, &kPcieK, 0x3493, false}, {-1, nullptr, 0, false},      {0, nullptr, 0, false},
                {1, nullptr, 0, false},       {3, nullptr, 0, false},       {16, nullptr, 0, false},
                {17, nullptr, 0, false},      {19, nullptr, 0, false},      {20, nullptr, 0, false},
                {1000, nullptr, 0, false}};
    for (const auto& row : rows) {
        Bytes expected = row.base ? *row.base : Bytes();
        if (row.base) {
            const size_t at = row.base == &kPciS ? 14 : 70;
            expected[at] = static_cast<unsigned char>(row.subsystem);
            expected[at + 1] = static_cast<unsigned char>(row.subsystem >> 8);
        }
        if (row.earlyTail) {
            const unsigned char tail[4] = {0x49, 0x92, 0x24, 0x02};
            std::copy(tail, tail + 4, expected.begin() + 124);
        }
        EXPECT_EQ(Of(tcf::ConfigEepromPreset(row.model)), expected) << "model " << row.model;
        EXPECT_EQ(Of(tcf::PcieEepromPreset(row.model)), row.base == &kPcieK ? kPex26 : Bytes())
            << "model " << row.model;
    }
}

// The PEX 8111 presets of both programs are what the bridge takes at
// power-up: the rule every image from a file must pass.
TEST(Presets, EveryBridgePresetOfBothProgramsIsOneTheBridgeLoads) {
    int presets = 0;
    for (const vjx::platform::Program* program :
         {&vjx::platform::kLinuxProgram, &vjx::platform::kWindowsProgram})
        for (int model = 0; model < program->unknownModel; ++model) {
            const tcf::Preset p = tcf::PcieEepromPreset(model, *program);
            CString reason;
            EXPECT_TRUE(tcf::PcieEepromImageLoads(p.data, p.size, &reason))
                << program->name << " model " << model << ": " << reason.str();
            presets += p.size != 0;
        }
    EXPECT_EQ(presets, 12);  // six PCIe models in each program
}

}  // namespace
