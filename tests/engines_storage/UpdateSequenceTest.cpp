// The update sequence end to end on simulated cards: the order of its stages
// on the bus, its reports, and the host's waits against the parts' slowest
// times.
#include <gtest/gtest.h>

#include <algorithm>

#include "EngineSupport.h"

namespace {

using namespace enginetest;

constexpr const char* kOld = ",fw=0.90,isp=5,fpga=5";

Bytes FileFor(int module, size_t fpgaSize, size_t firmwareSize) {
    return Build(tcf::FileContent{module, FpgaImage(7, fpgaSize), {}, {}, Firmware("2.01", 7, firmwareSize)});
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

    // The first (or last) access from `from` on that `match`es, -1 if none.
    const std::vector<Access> trace = card.accesses();
    const auto find = [&](size_t from, bool last, auto match) {
        long found = -1;
        for (size_t i = from; i < trace.size() && (last || found < 0); ++i)
            if (match(trace[i])) found = static_cast<long>(i);
        return found;
    };
    const auto onCard = [](const Access& a) { return a.function.rfind("card", 0) == 0; };
    // Type 3 drives the configuration lines through the PEX 8111's GPIOCTL,
    // type 2 through the PCI 9030's GPIOC.
    const auto lines = [&](const Access& a) {
        return onCard(a) != c.pcie && a.space == "0" && a.offset == (c.pcie ? 0x1020u : 0x54u);
    };
    const long intcsr =
        find(0, false, [&](const Access& a) { return onCard(a) && a.is("w", "0", c.pcie ? 0x68 : 0x4C); });
    const long firstLines = find(0, false, lines), lastLines = find(0, true, lines);
    const long version =
        find(static_cast<size_t>(lastLines + 1), false, [](const Access& a) { return a.is("r", "2", 0x7C); });
    const long firstCfg = find(0, false, [&](const Access& a) { return onCard(a) && a.is("w", "2", 0x44); });
    ASSERT_GE(intcsr, 0);
    EXPECT_EQ(trace[static_cast<size_t>(intcsr)].value, c.intcsrValue);
    ASSERT_GE(firstLines, 0);
    ASSERT_GE(version, 0);
    ASSERT_GE(firstCfg, 0);
    // Interrupt off, then the FPGA, its version, and only then the
    // microcontroller; the FPGA lines are not touched again.
    EXPECT_LT(intcsr, firstLines);
    EXPECT_LT(lastLines, version);
    EXPECT_LT(version, firstCfg);

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
