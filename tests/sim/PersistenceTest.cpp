// A rack lives in its directory: the parts' contents and the powered
// machine's state survive the process, also one killed at any moment.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "SimBus.h"
#include "sim/Clock.h"
#include "sim/FileUtil.h"
#include "sim/NvRegion.h"
#include "tests/support/SimRack.h"
#include "tests/support/TestUtil.h"

namespace simtest {
namespace {

using testsupport::TempDir;

TEST(Persistence, CompletedWritesSurviveAKilledProcess) {
    TempDir tmp;
    std::string dir = tmp.path("rack");
    std::string error;
    {
        auto rack = sim::Rack::create(dir, {"80"}, sim::Timing::instant(), sim::virtualClock(), &error);
        ASSERT_TRUE(rack) << error;
    }
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto rack = sim::Rack::open(dir, sim::Timing::instant(), sim::virtualClock(), &error);
        if (!rack) _exit(2);
        Bus bus(*rack, 1);
        FpgaLines lines(bus);
        lines.holdFpga();
        lines.program(0x70000, {0x12, 0x34});  // the instant profile: done at once
        raise(SIGKILL);                        // no destructor, no final save
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    auto rack = sim::Rack::open(dir, sim::Timing::instant(), sim::virtualClock(), &error);
    ASSERT_TRUE(rack) << error;
    EXPECT_EQ(rack->card(1).epcsBytes().at(0x70000), 0x12);
    EXPECT_EQ(rack->card(1).epcsBytes().at(0x70001), 0x34);
    EXPECT_FALSE(rack->card(1).fpga().state().configured) << "the state was saved when the FPGA changed";
    Bus bus(*rack, 1);
    EXPECT_EQ(bus.read8(2, 0x7C), 0xFF) << "the FPGA is still held off";
    sim::virtualClock().advance(2000);  // past the child's time on its copy of the clock
    FpgaLines(bus).releaseFpga();
    EXPECT_EQ(bus.read8(2, 0x7C), 3);
}

// A part busy when its process ends goes on being busy for the next one: a
// bulk erase started before a reopen still runs after it, and the EPCS
// answers nothing but its status until the erase time is over.
TEST(Persistence, BusyPeriodsOutliveTheProcess) {
    testsupport::SimRack sr({"80"}, "datasheet");
    {
        Bus bus(sr.rack(), 1);
        FpgaLines lines(bus);
        lines.holdFpga();
        lines.simple(0x06);  // write enable
        lines.simple(0xC7);  // bulk erase
    }
    sr.reopen();
    Bus bus(sr.rack(), 1);
    FpgaLines lines(bus);
    EXPECT_EQ(lines.id(), 0xFF) << "the erase goes on: the ID command is ignored";
    const std::vector<std::string> broken = sr.takeBreaches();
    ASSERT_EQ(broken.size(), 1u);
    EXPECT_NE(broken[0].find(" card1 epcs-busy command 0xab "), std::string::npos) << broken[0];
    EXPECT_EQ(lines.status() & 0x01, 0x01) << "status shows the erase in progress";
    const uint64_t epcs4BulkEraseUs = sim::Timing::typical().epcsBulkEraseEpcs4Us;
    sim::virtualClock().advance(epcs4BulkEraseUs);
    EXPECT_EQ(lines.status() & 0x01, 0x00);
    EXPECT_EQ(lines.id(), 0x12);

    // Times taken on another clock (another boot, or a test's virtual clock
    // read by a real process) cannot be compared: those periods are over.
    lines.simple(0x06);
    lines.simple(0xC7);
    sr.rack().saveState();
    sim::MonotonicClock machine;
    std::string error;
    auto other = sim::Rack::open(sr.dir(), sim::Timing::typical(), machine, &error, true);
    ASSERT_TRUE(other) << error;
    EXPECT_TRUE(other->card(1).fpga().state().epcsBusy == sim::BusyPeriod());
}

// Each opening of the rack is a new run on the noisy link: the noise of a
// series of runs repeats exactly, but one run does not repeat the last.
TEST(Persistence, NoisyLinkDrawsAgainInEachRun) {
    auto received = [](sim::Rack& rack) {
        Bus bus(rack, 1);
        sendToMcu(bus, "R");
        std::string answer;
        sim::virtualClock().advance(50000);
        for (unsigned i = 0; i < bus.read8(2, 0x94); ++i) {
            bus.write8(2, 0xA0, static_cast<uint8_t>(i));
            answer += static_cast<char>(bus.read8(2, 0xA4));
        }
        return answer;
    };
    std::vector<std::string> first, second;
    for (auto* series : {&first, &second}) {
        testsupport::SimRack sr({"80,link=noise:0.5:11"});
        for (int run = 0; run < 6; ++run) {
            series->push_back(received(sr.rack()));
            sr.reopen();
        }
    }
    EXPECT_EQ(first, second);
    std::sort(first.begin(), first.end());
    EXPECT_GT(std::unique(first.begin(), first.end()) - first.begin(), 1);
}

// (No rack at all, and a rack made over one in use: `vjxsim run` and `new`.)
TEST(Persistence, BrokenRackFilesAreReportedNotGuessed) {
    TempDir tmp;
    std::string error;
    std::string dir = tmp.path("rack");
    { ASSERT_TRUE(sim::Rack::create(dir, {"80"}, sim::Timing::instant(), sim::virtualClock(), &error)); }
    ASSERT_TRUE(sim::writeFileAtomic(dir + "/card1/state.json", "{\"fpga\":", &error));
    EXPECT_FALSE(sim::Rack::open(dir, sim::Timing::instant(), sim::virtualClock(), &error));
    EXPECT_NE(error.find("state.json"), std::string::npos) << error;
    ASSERT_TRUE(
        sim::writeFileAtomic(dir + "/rack.json", "{\"cards\":[{\"model\":\"79\",\"options\":[]}]}", &error));
    EXPECT_FALSE(sim::Rack::open(dir, sim::Timing::instant(), sim::virtualClock(), &error));
    EXPECT_NE(error.find("unknown card '79'"), std::string::npos) << error;
    EXPECT_FALSE(sim::Rack::create(tmp.path("big"), std::vector<std::string>(101, "80"),
                                   sim::Timing::instant(), sim::virtualClock(), &error));
    EXPECT_NE(error.find("at most 100 cards"), std::string::npos) << error;
}

}  // namespace
}  // namespace simtest
