// The simulated kernel driver in the program for simulated cards takes its
// rack from the environment `vjxsim run` sets, and drives it only while the
// rack is held for it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>

#include "driver/windows/KernelPort.h"
#include "sim/WindowsHold.h"
#include "sim/backend/Environment.h"
#include "sim/kernel/InProcess.h"
#include "tests/support/SimRack.h"

namespace {

namespace env = sim::backend;

class KernelDriverEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {env::kEnvRack, env::kEnvHold, env::kEnvClock, env::kEnvTiming,
                                 env::kEnvTrace, env::kEnvStats, env::kEnvTraceOnly, env::kEnvWindows})
            unsetenv(name);
        sim::kernel::bind(nullptr);
    }
    void TearDown() override { sim::kernel::bind(nullptr); }

    // Opens the driver's device; on failure what the driver said.
    std::string open() {
        sim::kernel::bind(nullptr);  // the environment is read again
        ::testing::internal::CaptureStderr();
        device = windrv::OpenDevice("\\\\.\\merix6");
        return ::testing::internal::GetCapturedStderr();
    }
    uint32_t scanCount() {
        unsigned char scan[2016] = {};
        uint32_t status = 0x20000000;
        EXPECT_TRUE(windrv::Control(device, 0x9538368F, scan, sizeof scan, &status));
        EXPECT_EQ(status, 0u);
        uint32_t count;
        std::memcpy(&count, scan + 8, 4);
        return count;
    }

    testsupport::SimRack sim{{"80", "84"}};
    windrv::DeviceHandle device = nullptr;
};

TEST_F(KernelDriverEnvironment, DrivesOnlyARackHeldForIt) {
    EXPECT_NE(open().find("VJXSIM_RACK is not set"), std::string::npos);
    EXPECT_EQ(device, nullptr);

    setenv(env::kEnvRack, sim.dir().c_str(), 1);
    EXPECT_NE(open().find("not held for this program"), std::string::npos);
    EXPECT_EQ(device, nullptr);

    std::string error;
    std::unique_ptr<sim::WindowsHold> hold = sim::WindowsHold::take(sim.dir(), &error);
    ASSERT_TRUE(hold) << error;
    EXPECT_TRUE(sim::WindowsHold::held(sim.dir()));
    EXPECT_FALSE(sim::WindowsHold::take(sim.dir(), &error)) << "one hold at a time";
    setenv(env::kEnvHold, (hold->token() + "0").c_str(), 1);
    EXPECT_NE(open().find("not held for this program"), std::string::npos) << "another program's hold";

    setenv(env::kEnvHold, hold->token().c_str(), 1);
    setenv(env::kEnvClock, "virtual", 1);
    EXPECT_NE(open().find("cannot run on virtual time"), std::string::npos);
    EXPECT_EQ(device, nullptr);

    unsetenv(env::kEnvClock);
    EXPECT_EQ(open(), "");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(scanCount(), 3u);
    windrv::CloseDevice(device);
    // A machine setting it does not know leaves the driver's device closed.
    setenv(env::kEnvWindows, "user=standard,driver=12x", 1);
    EXPECT_NE(open().find("'driver=12x' is no setting"), std::string::npos);
    EXPECT_EQ(device, nullptr);
    unsetenv(env::kEnvWindows);

    // The hold ends with its holder, and its token with it.
    hold.reset();
    EXPECT_FALSE(sim::WindowsHold::held(sim.dir()));
    EXPECT_NE(open().find("not held for this program"), std::string::npos);
}

}  // namespace
