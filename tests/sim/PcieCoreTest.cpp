// The PCIe-core cards (models 96..99): the FPGA reload that takes the
// function off the bus and brings it back without BARs, and the system's
// re-enumeration, in every timing profile. (The function they present and
// their serial flash on the bus: the host's listing and the Windows
// program's updates of these cards, which also show what their faults do.)
#include <gtest/gtest.h>

#include "SimBus.h"
#include "sim/Clock.h"
#include "tests/support/SimRack.h"

namespace simtest {
namespace {

constexpr unsigned kVersion = 0x7C;

class PcieCore : public ::testing::TestWithParam<std::string> {
protected:
    uint64_t loadUs() const { return m_timing.fpgaLoadUs(32768); }  // the factory image
    void SetUp() override { ASSERT_TRUE(sim::Timing::byName(GetParam(), m_timing)); }
    // The application's "T", and time for the byte, its answer and the
    // 10 ms the application leaves the host before the reload.
    void sendReload(Bus& bus) {
        sendToMcu(bus, "T");
        sim::virtualClock().advance(15000);
    }
    sim::Timing m_timing;
};

TEST_P(PcieCore, ReloadTakesTheFunctionOffTheBusUntilReenumerated) {
    testsupport::SimRack sr({"96,fpga=6"}, GetParam());
    Bus bus(sr.rack(), 1);
    sim::virtualClock().advance(loadUs());
    const uint32_t bar2 = bus.config32(0x18);
    ASSERT_NE(bar2, 0u);
    sendReload(bus);
    if (loadUs() > 5000) {
        EXPECT_EQ(bus.config32(0x00), 0xFFFFFFFFu) << "loading: the function does not answer";
        EXPECT_EQ(bus.read8(2, kVersion), 0xFF);
    }
    sim::virtualClock().advance(loadUs());
    EXPECT_EQ(bus.config32(0x00), 0x905610B5u) << "the link is back";
    EXPECT_EQ(bus.config32(0x18), 0u) << "without its BARs";
    EXPECT_EQ(bus.config32(0x04) & 0x3, 0u) << "and without decoding";
    EXPECT_EQ(bus.read8(2, kVersion), 0xFF);
    EXPECT_EQ(bus.read32(0, 0x6C), 0xFFFFFFFFu);

    sr.reopen();  // the state outlives the process
    Bus again(sr.rack(), 1);
    EXPECT_EQ(again.config32(0x18), 0u);
    EXPECT_TRUE(sr.rack().reenumerate());
    EXPECT_EQ(again.config32(0x18), bar2);
    EXPECT_EQ(again.config32(0x04) & 0x3, 3u);
    EXPECT_EQ(again.read8(2, kVersion), 6);
}

// The application reloads the FPGA on its own time, whether or not the host
// touches the card again, and even when the program ends first.
TEST_P(PcieCore, ReloadHappensWithoutFurtherAccess) {
    testsupport::SimRack sr({"97"}, GetParam());
    {
        Bus bus(sr.rack(), 1);
        sim::virtualClock().advance(loadUs());
        sendToMcu(bus, "T");
    }
    sim::virtualClock().advance(2000);  // the program ends before the answer is back
    sr.reopen();
    sim::virtualClock().advance(loadUs() + 20000);
    Bus bus(sr.rack(), 1);
    EXPECT_EQ(bus.config32(0x18), 0u) << "reloaded: BARs gone";
    EXPECT_TRUE(sr.rack().reenumerate());
    EXPECT_EQ(bus.read8(2, kVersion), 3);

    sendToMcu(bus, "T");
    sim::virtualClock().advance(12000 + loadUs());  // no access: the reload and load are over
    EXPECT_TRUE(sr.rack().reenumerate());
    EXPECT_NE(bus.config32(0x18), 0u) << "the re-enumeration saw the function back";
    EXPECT_EQ(bus.read8(2, kVersion), 3);
}

INSTANTIATE_TEST_SUITE_P(Profiles, PcieCore, testsupport::Profiles());

}  // namespace
}  // namespace simtest
