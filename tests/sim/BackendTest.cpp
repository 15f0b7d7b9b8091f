// The access library's interface over a bound rack: numbering of cards and
// bridges, device information, configuration and register access, the
// failures, and the process count and flash flag kept per rack.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "libmerix32/merix32.h"
#include "sim/Clock.h"
#include "sim/FileUtil.h"
#include "sim/backend/InProcess.h"
#include "tests/support/SimRack.h"

namespace simtest {
namespace {

struct Opened {
    int handle = -1;
    int status = -1;
    Opened(unsigned number, bool bridge) {
        status = bridge ? vjxOpenBridge(&handle, number) : vjxOpen(&handle, number);
    }
    ~Opened() {
        if (status == 0) vjxClose(handle);
    }
};

uint16_t deviceId(unsigned number, bool bridge) {
    Opened o(number, bridge);
    uint16_t id = 0;
    if (o.status != 0 || vjxGetDeviceId(o.handle, &id) != 0) return 0;
    return id;
}

TEST(Backend, CardsAndBridgesAreNumberedInBusOrderEachOnTheirOwn) {
    testsupport::SimRack sr({"84", "80", "85,bridge=none", "81,slow"});
    // Number, bridge or card, device ID (0: none such).
    const struct {
        unsigned number;
        bool bridge;
        uint16_t id;
    } functions[] = {{0x1000, false, 0},      {0x1001, false, 0x9056}, {0x1002, false, 0x9030},
                     {0x1003, false, 0x9056}, {0x1004, false, 0x9056}, {0x1005, false, 0},
                     {0x1001, true, 0x8111},  {0x1002, true, 0x8111},  {0x1003, true, 0}};
    for (const auto& f : functions) EXPECT_EQ(deviceId(f.number, f.bridge), f.id) << f.number << f.bridge;
    EXPECT_NE(std::string(vjxGetErrorString()).find("no bridge 0x1003"), std::string::npos)
        << vjxGetErrorString();
}

TEST(Backend, RegistersAndConfigurationThroughHandles) {
    testsupport::SimRack sr({"80,fpga=4"});
    Opened card(0x1001, false);
    ASSERT_EQ(card.status, 0);
    uint8_t version = 0;
    ASSERT_EQ(vjxReadOffset8(card.handle, 2, 0x7C, &version), 0);
    EXPECT_EQ(version, 4);
    ASSERT_EQ(vjxWriteOffset32(card.handle, 0, 0x4C, 0x542), 0);
    uint32_t intcsr = 0;
    ASSERT_EQ(vjxReadOffset32(card.handle, 0, 0x4C, &intcsr), 0);
    EXPECT_EQ(intcsr, 0x542u);
    uint32_t key = 0;
    ASSERT_EQ(vjxConfigDump(card.handle, 0x2C, 4, &key), 0);
    EXPECT_EQ(key, 0x306810B5u);

    EXPECT_NE(vjxReadOffset32(card.handle, 0, 0x80, &intcsr), 0);
    EXPECT_NE(std::string(vjxGetErrorString()).find("offset 0x80"), std::string::npos) << vjxGetErrorString();
    EXPECT_NE(vjxReadOffset32(card.handle, 0, 0x51, &intcsr), 0) << "misaligned";
    EXPECT_NE(vjxReadOffset8(card.handle, 4, 0, &version), 0);
    EXPECT_NE(vjxConfigDump(card.handle, 0xFE, 4, &key), 0);
    EXPECT_NE(vjxReadOffset8(card.handle + 7, 2, 0x7C, &version), 0);
    EXPECT_NE(std::string(vjxGetErrorString()).find("Invalid handle"), std::string::npos);
}

TEST(Backend, ClosedHandlesAreInvalidAndUnboundLibraryFailsCleanly) {
    {
        testsupport::SimRack sr({"80"});
        int h = -1;
        ASSERT_EQ(vjxOpen(&h, 0x1001), 0);
        EXPECT_EQ(vjxClose(h), 0);
        EXPECT_NE(vjxClose(h), 0);
        uint16_t id;
        EXPECT_NE(vjxGetDeviceId(h, &id), 0);
    }
    // No rack bound and none in the environment.
    int h = -1;
    EXPECT_NE(vjxOpen(&h, 0x1001), 0);
    EXPECT_NE(std::string(vjxGetErrorString()).find("VJXSIM_RACK"), std::string::npos) << vjxGetErrorString();
}

TEST(Backend, ProcessCountAndFlashFlagBelongToTheRack) {
    testsupport::SimRack sr({"80"});
    EXPECT_EQ(vjxGetActiveProcessCount(), 1);
    ASSERT_EQ(vjxSetFlashActive(1), 1);
    std::string dir = sr.dir();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string error;
        auto same = sim::Rack::open(dir, sim::Timing::instant(), sim::virtualClock(), &error);
        if (!same) _exit(10);
        sim::backend::bind(same.get());
        int count = vjxGetActiveProcessCount();
        int flash = vjxSetFlashActive(1);
        sim::backend::bind(nullptr);
        char other[] = "/tmp/vjxsim-other-XXXXXX";
        if (!mkdtemp(other)) _exit(11);
        auto elsewhere = sim::Rack::create(std::string(other) + "/r", {}, sim::Timing::instant(),
                                           sim::virtualClock(), &error);
        sim::backend::bind(elsewhere.get());
        int otherCount = vjxGetActiveProcessCount();
        int otherFlash = vjxSetFlashActive(1);
        vjxSetFlashActive(0);
        sim::backend::bind(nullptr);
        elsewhere.reset();
        sim::removeTree(other);
        _exit((count == 2 ? 0 : 1) | (flash == 0 ? 0 : 2) | (otherCount == 1 ? 0 : 4) |
              (otherFlash == 1 ? 0 : 8));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "bits: 1 count, 2 flag taken twice, 4 other rack's count, 8 other rack's flag";
    EXPECT_EQ(vjxSetFlashActive(0), 1);
}

}  // namespace
}  // namespace simtest
