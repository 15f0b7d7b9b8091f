// Card specs and options: bad values are refused with a reason, and `set`
// merges and applies them.
#include <gtest/gtest.h>

#include "sim/CardSpec.h"
#include "sim/Clock.h"
#include "tests/support/SimRack.h"

namespace simtest {
namespace {

// (What each option does to its part: the tests of the parts and of the host
// over such cards; the wiring options: the listings of the end-to-end tests.)
TEST(Options, BadSpecsAreRefusedWithAReason) {
    const std::pair<const char*, const char*> bad[] = {
        {"79", "unknown card"},
        {"100", "unknown card"},
        {"blank-9054", "unknown card"},
        {"84,", "empty option"},
        {"84,turbo=on", "unknown option"},
        {"84,slow=yes", "takes no value"},
        {"84,fw", "needs a value"},
        {"84,fw=1.2.3", "bad value"},
        {"84,isp=256", "bad value"},
        {"84,fpga=-1", "bad value"},
        {"84,epcs=0x100", "bad value"},
        {"84,fpga-size=10", "bad value"},
        {"84,fw-size=1000", "bad value"},
        {"84,mcu=short:5", "bad value"},
        {"84,link=noise:1.5:1", "bad value"},
        {"84,link=noise:0.1", "bad value"},
        {"84,eeprom-fault=stuck:16", "bad value"},
        {"80,slow", "only a PCIe card"},
        {"80,bridge=none", "only a PCIe card"},
        {"blank-9056,eeprom=old", "no factory content"},
        {"97,bridge=none", "only a PCIe card with a PLX bridge"},
        {"97,epcs=0x10", "no EPCS and no configuration EEPROM"},
        {"96,eeprom-fault=absent", "no EPCS and no configuration EEPROM"},
        {"84,reenumerate=fail", "only a PCIe-core card"},
        {"84,flash-id=1:0x6017", "only a PCIe-core card"},
        {"97,flash-id=1", "bad value"},
    };
    for (const auto& b : bad) {
        sim::CardSpec s;
        std::string error;
        EXPECT_FALSE(sim::CardSpec::parse(b.first, &s, &error)) << b.first;
        EXPECT_NE(error.find(b.second), std::string::npos) << b.first << ": " << error;
    }
}

TEST(Options, MergeReplacesRemovesAndKeepsBothLinkSettings) {
    std::vector<std::string> stored = {"fw=1.50", "link=baud:9600", "mcu=silent"};
    std::string error;
    ASSERT_TRUE(sim::mergeOptions(stored, {"fw=2.00", "link=noise:0.1:3", "mcu=default"}, &error)) << error;
    EXPECT_EQ(stored, (std::vector<std::string>{"link=baud:9600", "fw=2.00", "link=noise:0.1:3"}));
    ASSERT_TRUE(sim::mergeOptions(stored, {"link=clean"}, &error));
    EXPECT_EQ(stored, (std::vector<std::string>{"link=baud:9600", "fw=2.00", "link=clean"}));
    std::vector<std::string> before = stored;
    EXPECT_FALSE(sim::mergeOptions(stored, {"fw=3.00", "bogus=1"}, &error));
    EXPECT_EQ(stored, before) << "a refused change leaves the options as they were";
}

// (The firmware set and a card that is not there: `vjxsim set`.)
TEST(Options, ContentOptionsRewriteThePartFaultOptionsDoNot) {
    testsupport::SimRack sr({"80"});
    sim::Card& card = sr.rack().card(1);
    std::vector<uint8_t> epcsBefore = card.fpga().imageView(64);
    std::string error;
    ASSERT_TRUE(sr.rack().setOptions(1, {"fw=4.20", "isp=3"}, &error)) << error;
    EXPECT_EQ(card.fpga().imageView(64), epcsBefore) << "the firmware option leaves the FPGA image alone";
    ASSERT_TRUE(sr.rack().setOptions(1, {"fpga=12"}, &error)) << error;
    EXPECT_EQ(card.fpga().version(sim::virtualClock().nowUs()), 12);
    ASSERT_TRUE(sr.rack().setOptions(1, {"epcs=0x10"}, &error)) << error;
    EXPECT_EQ(card.epcsBytes().size(), 128u * 1024);
    EXPECT_EQ(card.fpga().version(sim::virtualClock().nowUs()), 12)
        << "the image is rewritten into the new part";
    ASSERT_TRUE(sr.rack().setOptions(1, {"fpga-version=0", "mcu=silent"}, &error)) << error;
    EXPECT_EQ(card.fpga().version(sim::virtualClock().nowUs()), 12)
        << "a fault waits for the next configuration";
    EXPECT_FALSE(sr.rack().setOptions(1, {"slow"}, &error)) << "a PCI card has no PEX 8111";
}

}  // namespace
}  // namespace simtest
