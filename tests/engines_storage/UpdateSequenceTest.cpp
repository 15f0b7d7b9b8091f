// The update sequence end to end on simulated cards: the order of its stages
// on the bus, its reports, the refusals that must come before the card is
// touched, and the host's waits against the parts' slowest times.
#include <gtest/gtest.h>

#include <algorithm>

#include "EngineSupport.h"
#include "tcf/Tcf.h"

namespace {

using namespace enginetest;

constexpr const char* kOld = ",fw=0.90,isp=5,fpga=5";

Bytes FileFor(int module, size_t fpgaSize, size_t firmwareSize) {
    return Build(tcf::FileContent{module, FpgaImage(7, fpgaSize), {}, {}, Firmware("2.01", 7, firmwareSize)});
}

struct Stages {
    long intcsr = -1;    // first write of the interrupt control register
    long firstEpc = -1;  // first access to an FPGA configuration line register
    long lastEpc = -1;
    long version = -1;   // first VERSION read after the last line access
    long firstCfg = -1;  // first microcontroller control write
    uint32_t intcsrValue = 0;
};

// Indexes of the stages in the trace. Type 3 drives the configuration lines
// through the PEX 8111's GPIOCTL, type 2 through the PCI 9030's GPIOC.
Stages Find(const std::vector<Access>& trace, bool pcie) {
    Stages s;
    const uint32_t intcsr = pcie ? 0x68 : 0x4C;
    for (size_t i = 0; i < trace.size(); ++i) {
        const Access& a = trace[i];
        const bool bridge = a.function.rfind("bridge", 0) == 0;
        const bool epc = pcie ? (bridge && a.space == "0" && a.offset == 0x1020)
                              : (!bridge && a.space == "0" && a.offset == 0x54);
        if (s.intcsr < 0 && !bridge && a.is("w", "0", intcsr)) {
            s.intcsr = static_cast<long>(i);
            s.intcsrValue = a.value;
        }
        if (epc) {
            if (s.firstEpc < 0) s.firstEpc = static_cast<long>(i);
            s.lastEpc = static_cast<long>(i);
        }
        if (s.firstCfg < 0 && !bridge && a.is("w", "2", 0x44)) s.firstCfg = static_cast<long>(i);
    }
    for (long i = s.lastEpc + 1; s.lastEpc >= 0 && i < static_cast<long>(trace.size()); ++i) {
        if (trace[static_cast<size_t>(i)].is("r", "2", 0x7C)) {
            s.version = i;
            break;
        }
    }
    return s;
}

struct CardCase {
    const char* model;
    int module;
    const char* name;
    bool pcie;
    uint32_t intcsrValue;
};

class UpdateSequence : public ::testing::TestWithParam<std::tuple<CardCase, std::string>> {};

TEST_P(UpdateSequence, StagesRunInOrderAndTheNewFirmwareIsReported) {
    const CardCase& c = std::get<0>(GetParam());
    OneCard card(std::string(c.model) + kOld, std::get<1>(GetParam()));
    UpdateFile file(FileFor(c.module, 2000, 0x8000));
    ASSERT_EQ(card.update(file, c.name), 1) << card.log.text();

    const Stages s = Find(card.accesses(), c.pcie);
    ASSERT_GE(s.intcsr, 0);
    EXPECT_EQ(s.intcsrValue, c.intcsrValue);
    ASSERT_GE(s.firstEpc, 0);
    ASSERT_GE(s.version, 0);
    ASSERT_GE(s.firstCfg, 0);
    // Interrupt off, then the FPGA, its version, and only then the
    // microcontroller; the FPGA lines are not touched again.
    EXPECT_LT(s.intcsr, s.firstEpc);
    EXPECT_LT(s.lastEpc, s.version);
    EXPECT_LT(s.version, s.firstCfg);

    // Information frame (no error banner), "\n\n" collapsed by the log.
    const std::string success = std::string("---------------------------------------------\nProgramming ") +
                                c.name + " card was successful.\nFirmware version: 2.01\n";
    EXPECT_TRUE(Has(card.log.text(), success)) << card.log.text();
    EXPECT_FALSE(Has(card.log.text(), "Error")) << card.log.text();
    EXPECT_FALSE(card.pci.Com_isOpen());
    EXPECT_EQ(card.card().mcu().runningVersion(), "2.01");
}

INSTANTIATE_TEST_SUITE_P(Bridges, UpdateSequence,
                         ::testing::Combine(::testing::Values(CardCase{"84", 84, "VJX PCIe K", true,
                                                                       0x0F010100},
                                                              CardCase{"80", 80, "VJX PCI S", false, 0x542}),
                                            Profiles()),
                         CaseProfileName<CardCase>);

// The file is read as the update goes: an FPGA image cut short is found
// before the configuration device is touched.
TEST(UpdateSequenceFile, TruncatedFpgaImageIsReportedBeforeTheDeviceIsTouched) {
    OneCard card(std::string("84") + kOld);
    Bytes bytes = FileFor(84, 2000, 0x4000);
    ASSERT_EQ(tcf::getLE32(&bytes[tcf::kOffFpgaOffset]) + 2000u, bytes.size());  // the image comes last
    bytes.pop_back();
    EXPECT_EQ(card.update(UpdateFile(bytes), "VJX PCIe K"), 0);
    EXPECT_TRUE(Has(card.log.text(), "Error -------------------\nCan't read all EPC bytes.\n"))
        << card.log.text();
    EXPECT_LT(Find(card.accesses(), true).firstEpc, 0);
    EXPECT_FALSE(card.pci.Com_isOpen());
}

// The parts at their datasheet maxima (the simulator's `max` profile): the
// EPCS4's bulk erase takes 10 s, a page 5 ms, and the FPGA reads its
// configuration device at 10 MHz, so that a full EPCS4 (4 Mbit) takes 420 ms
// to load, and 160 KiB take 131 ms, longer than the 100 ms the FPGA's own
// start-up is given. A correct update must pass on the slowest parts, on both
// bridge types (configuration done on the PCI 9030, VERSION on the PCIe card),
// with the largest image the device holds too.
class UpdateOnSlowestParts : public ::testing::TestWithParam<std::tuple<int, size_t>> {};

TEST_P(UpdateOnSlowestParts, PassesUpToAFullConfigurationDevice) {
    const int module = std::get<0>(GetParam());
    OneCard card(std::to_string(module) + kOld, "max");
    card.rack.setTracing(false);
    UpdateFile file(FileFor(module, std::get<1>(GetParam()), 0x10000));
    EXPECT_EQ(card.update(file, "card"), 1) << card.log.text();
    EXPECT_FALSE(Has(card.log.text(), "Error")) << card.log.text();
    EXPECT_EQ(card.card().mcu().runningVersion(), "2.01");
}

// The reference card's 400 KiB image, one that fills the EPCS4 with its CRC,
// and the 160 KiB one on the PCI card.
INSTANTIATE_TEST_SUITE_P(Images, UpdateOnSlowestParts,
                         ::testing::Values(std::make_tuple(84, 400u * 1024u),
                                           std::make_tuple(84, 512u * 1024u - 4u),
                                           std::make_tuple(80, 160u * 1024u)),
                         [](const ::testing::TestParamInfo<UpdateOnSlowestParts::ParamType>& info) {
                             return std::to_string(std::get<0>(info.param)) + "_" +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
