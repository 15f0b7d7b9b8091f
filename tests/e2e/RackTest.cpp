// The rack never lies: a program refused the lock saves nothing, and a rack
// removed under a running program ends the run with an error instead of
// letting it pass for one whose cards remember.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "Process.h"

using e2e::TempDir;

namespace {

bool waitUntil(const std::function<bool()>& condition, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A PCIe card with an EPCS1 (3 s bulk erase in the typical timing) and an
// update file that changes its FPGA image and firmware.
class Rack : public ::testing::Test {
protected:
    void SetUp() override {
        file = e2e::newRackAndUpdate(rack, "84,fw=0.90,isp=5,fpga=5,epcs=0x10", 16384);
        ASSERT_FALSE(file.empty());
    }
    e2e::Started startUpdate() {
        return e2e::start({VJXSIM_BIN, "run", rack, "--strict", "--timing", "datasheet", "--", VJXFLASH_BIN,
                           "-flash", "1", file},
                          tmp.path("update.out"), tmp.path("update.err"));
    }

    TempDir tmp;
    std::string rack = tmp.path("rack");
    std::string file;
};

// Reproduces a rollback seen before: a program refused the lock while an
// update runs, and ending after it, must leave the updated card as it is.
TEST_F(Rack, AProgramRefusedTheLockNeverRollsBackAnUpdate) {
    e2e::Started update = startUpdate();
    ASSERT_GT(update.pid, 0);
    // The update holds the access library's flag (the file names its pid).
    ASSERT_TRUE(waitUntil([&] { return !e2e::readText(rack + "/runtime/flash.lock").empty(); }, 30));
    e2e::Started refused = e2e::start({VJXSIM_BIN, "run", rack, "--", LOCK_HOLDER_BIN},
                                      tmp.path("holder.out"), tmp.path("holder.err"), true);
    ASSERT_GT(refused.pid, 0);
    ASSERT_TRUE(waitUntil([&] { return !e2e::readText(tmp.path("holder.out")).empty(); }, 30));
    EXPECT_EQ(e2e::readText(tmp.path("holder.out")), "refused\n");

    EXPECT_EQ(e2e::finish(update, 120), 0) << e2e::readText(tmp.path("update.out"));
    EXPECT_EQ(e2e::finish(refused, 30), 0) << e2e::readText(tmp.path("holder.err"));

    auto show = e2e::vjxsim({"show", rack, "--json"});
    nlohmann::json card = nlohmann::json::parse(show.out, nullptr, false)["cards"][0];
    EXPECT_EQ(card["fpga_configured"], true) << show.out;
    EXPECT_EQ(card["fpga_version"], 9);
    EXPECT_EQ(card["firmware_version"], "3.10");
    auto list = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_NE(list.out.find("Firmware version: 3.10"), std::string::npos) << list.out;
}

// Removed during the bulk erase, the rack can keep nothing more: the run
// ends with the simulator's error long before the erase would be over.
TEST_F(Rack, ARackRemovedDuringARunEndsItWithAnError) {
    e2e::Started update = startUpdate();
    ASSERT_GT(update.pid, 0);
    // A bulk erase is stored when it starts: the image's first bytes read blank.
    ASSERT_TRUE(waitUntil(
        [&] { return e2e::readText(rack + "/card1/epcs.bin").rfind(std::string(16, '\xFF'), 0) == 0; }, 30));
    const auto removed = std::chrono::steady_clock::now();
    ASSERT_EQ(system(("rm -rf '" + rack + "'").c_str()), 0);
    const int status = e2e::finish(update, 120);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - removed).count();
    EXPECT_EQ(status, 70) << e2e::readText(tmp.path("update.out"));
    const std::string err = e2e::readText(tmp.path("update.err"));
    EXPECT_NE(err.find("vjxsim: the simulated machine stops: "), std::string::npos) << err;
    EXPECT_LT(seconds, 3.0) << "the EPCS1's bulk erase alone takes 3 s";
}

}  // namespace
