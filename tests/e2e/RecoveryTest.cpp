// An update killed at any moment leaves a card that the next update repairs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "Process.h"

extern char** environ;

using e2e::TempDir;

namespace {

// Starts `vjxsim run RACK -- vjxflash -flash N FILE` in a process group of
// its own, so that the whole group can be killed at once.
pid_t startUpdate(const std::string& rack, const std::string& card, const std::string& file) {
    std::vector<std::string> argv{VJXSIM_BIN, "run", rack, "--", VJXFLASH_BIN, "-flash", card, file};
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return pid;
}

TEST(Recovery, UpdateKilledAtRandomMomentsIsRepairedByTheNextRun) {
    TempDir tmp;
    std::string rack = tmp.path("rack");
    ASSERT_EQ(e2e::vjxsim({"new", rack, "--card", "84,fw=0.90,isp=5,fpga=5"}).status, 0);
    std::string fpga = tmp.path("fpga.bin"), fw = tmp.path("fw.bin"), file = tmp.path("k.tcf");
    ASSERT_EQ(e2e::vjxsim({"image", "fpga", "--version", "9", "--size", "30000", "-o", fpga}).status, 0);
    ASSERT_EQ(
        e2e::vjxsim({"image", "firmware", "--version", "3.10", "--isp", "9", "--size", "65536", "-o", fw})
            .status,
        0);
    ASSERT_EQ(e2e::tcftool({"build", "-o", file, "--module", "84", "--fpga", fpga, "--firmware", fw}).status,
              0);

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

}  // namespace
