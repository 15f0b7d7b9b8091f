// The bus trace: its exact line format (the file it goes to, its filter and
// counts: vjxsim run).
#include <gtest/gtest.h>

#include "SimBus.h"
#include "sim/Clock.h"
#include "tests/support/SimRack.h"

namespace simtest {
namespace {

TEST(Trace, OneLinePerAccessInTheFixedFormat) {
    testsupport::SimRack sr({"84"}, "datasheet");
    sim::virtualClock().advance(
        sr.rack().timing().fpgaLoadUs(kWholeEpcs4));  // the FPGA's load after power-up
    Bus bus(sr.rack(), 1);
    sim::virtualClock().set(sim::virtualClock().nowUs());  // no fraction of a microsecond left over
    uint64_t t0 = sim::virtualClock().nowUs();
    bus.write32(0, 0x6C, 0x000D767E);
    bus.read8(2, 0x7C);
    bus.config32(0x2C);
    uint8_t one = 0;
    std::string error;
    ASSERT_TRUE(sr.rack().configRead(Kind::Bridge, 1, 0x19, 1, &one, &error));
    bus.write32(0, 0x1020, 0x80, Kind::Bridge);
    bus.configWrite32(0x84, 0x20, Kind::Bridge, 1);

    std::vector<std::string> lines = sr.traceLines();
    ASSERT_EQ(lines.size(), 6u);
    // Typical bus times move the virtual clock: a posted write 0.1 us, a
    // read through the PEX 8111 1 us, a configuration access 1.5 us. Lines
    // show whole microseconds.
    auto at = [&](uint64_t us) { return std::to_string(t0 + us); };
    EXPECT_EQ(lines[0], "1 " + at(0) + " card1 w 0 6c 32 d767e");      // 0
    EXPECT_EQ(lines[1], "2 " + at(0) + " card1 r 2 7c 8 3");           // 0.1
    EXPECT_EQ(lines[2], "3 " + at(1) + " card1 cr - 2c 32 335510b5");  // 1.1
    EXPECT_EQ(lines[3], "4 " + at(2) + " bridge1 cr - 19 8 2");        // 2.6
    EXPECT_EQ(lines[4], "5 " + at(4) + " bridge1 w 0 1020 32 80");     // 4.1
    EXPECT_EQ(lines[5], "6 " + at(4) + " bridge1 cw - 84 32 20");      // 4.2
}

}  // namespace
}  // namespace simtest
