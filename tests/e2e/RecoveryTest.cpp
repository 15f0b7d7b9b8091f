// An update killed at any moment leaves a card that the next update repairs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <random>
#include <thread>

#include "Process.h"

using e2e::TempDir;

namespace {

// `vjxsim run RACK -- vjxflash -flash N FILE`, killable as a whole group.
pid_t startUpdate(const std::string& rack, const std::string& card, const std::string& file,
                  const std::string& timing = "instant") {
    return e2e::start({VJXSIM_BIN, "run", rack, "--strict", "--timing", timing, "--", VJXFLASH_BIN, "-flash",
                       card, file},
                      "/dev/null", "/dev/null")
        .pid;
}

TEST(Recovery, UpdateKilledAtRandomMomentsIsRepairedByTheNextRun) {
    TempDir tmp;
    std::string rack = tmp.path("rack");
    const std::string file = e2e::newRackAndUpdate(tmp, rack, "84,fw=0.90,isp=5,fpga=5", 65536);
    ASSERT_FALSE(file.empty());
    const std::string fpga = tmp.path("fpga.bin");

    // How long a whole update takes here, to spread the kills over it.
    TempDir probeDir;
    std::string probe = probeDir.path("rack");
    ASSERT_EQ(e2e::vjxsim({"new", probe, "--card", "84,fw=0.90,isp=5,fpga=5"}).status, 0);
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(e2e::vjxflashOn(probe, {"-flash", "1", file}).status, 0);
    auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);

    std::mt19937 random(20261206);
    for (int round = 0; round < 5; ++round) {
        std::uniform_int_distribution<long> when(0, std::max<long>(1, whole.count()));
        pid_t pid = startUpdate(rack, "1", file);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(when(random)));
        kill(-pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
    }

    auto r = e2e::vjxflashOn(rack, {"-flash", "1", file});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Firmware version: 3.10"), std::string::npos) << r.out;
    auto list = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_NE(list.out.find("Firmware version: 3.10"), std::string::npos) << list.out;
    auto epcs = e2e::vjxsim({"dump", rack, "1", "epcs"});
    std::string image = e2e::readFile(fpga);
    EXPECT_EQ(epcs.out.compare(0, image.size(), image), 0);
}

// A program killed during a bulk erase leaves the EPCS erasing: the next
// program, started at once, meets a part that answers only its status, as on
// a real machine. (The host reads the silicon ID without waiting for the part
// to be ready, so it takes the busy part's silence for an unknown device.)
// Once the erase time is over, the next run repairs the card.
TEST(Recovery, AProgramStartedRightAfterAKillDuringBulkEraseMeetsABusyEpcs) {
    TempDir tmp;
    std::string rack = tmp.path("rack");
    const std::string file = e2e::newRackAndUpdate(tmp, rack, "84,fw=0.90,isp=5,fpga=5,epcs=0x10", 16384);
    ASSERT_FALSE(file.empty());

    pid_t pid = startUpdate(rack, "1", file, "datasheet");
    ASSERT_GT(pid, 0);
    // A started bulk erase is stored at once: the image's first bytes read blank.
    const std::string blank(16, '\xFF');
    bool erasing = false;
    for (int i = 0; i < 3000 && !erasing; ++i) {
        erasing = e2e::readFile(rack + "/card1/epcs.bin").compare(0, 16, blank) == 0;
        if (!erasing) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(-pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(erasing);
    const auto killed = std::chrono::steady_clock::now();

    // Strict, the command to the erasing part ends the run at once.
    auto strict = e2e::vjxflashOn(rack, {"-flash", "1", file});
    EXPECT_EQ(strict.status, 71) << strict.out;
    EXPECT_NE(strict.err.find(" card1 epcs-busy command 0xab "), std::string::npos) << strict.err;
    auto atOnce = e2e::vjxflashOn(rack, {"-flash", "1", file}, {}, false);
    EXPECT_EQ(atOnce.status, 3) << atOnce.out;
    EXPECT_NE(atOnce.out.find("EPC silicon ID unknown: 0xFF"), std::string::npos) << atOnce.out;

    const auto eraseOver = killed + std::chrono::seconds(3);  // EPCS1 bulk erase, typical
    std::this_thread::sleep_until(eraseOver);
    auto later = e2e::vjxflashOn(rack, {"-flash", "1", file});
    EXPECT_EQ(later.status, 0) << later.out;
    EXPECT_NE(later.out.find("Firmware version: 3.10"), std::string::npos) << later.out;
}

}  // namespace
