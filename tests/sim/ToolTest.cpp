// vjxsim as a black box: what a user sees of new, show, dump, set,
// power-cycle, image and run.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "sim/CardOptions.h"
#include "sim/FileUtil.h"
#include "tests/support/TestUtil.h"

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

class Tool : public ::testing::Test {
protected:
    Result run(const std::string& args) {
        std::string out = m_tmp + "/out", err = m_tmp + "/err";
        std::string cmd =
            "cd '" + m_tmp + "' && '" VJXSIM_BIN "' " + args + " >'" + out + "' 2>'" + err + "'";
        Result r;
        int s = system(cmd.c_str());
        r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
        sim::readFile(out, &r.out, nullptr);
        sim::readFile(err, &r.err, nullptr);
        return r;
    }
    nlohmann::json show(const std::string& rack) {
        Result r = run("show " + rack + " --json");
        EXPECT_EQ(r.status, 0) << r.err;
        return nlohmann::json::parse(r.out, nullptr, false);
    }
    std::string path(const std::string& name) const { return m_tmp + "/" + name; }

    testsupport::TempDir tmp;
    const std::string& m_tmp = tmp.dir();
};

// (The versions and the digests: the end-to-end updates read them.)
TEST_F(Tool, NewAndShowDescribeEveryCard) {
    ASSERT_EQ(run("new R --card 84 --card 80,fw=9.14,isp=5 --card blank-9056").status, 0);
    nlohmann::json j = show("R");
    ASSERT_TRUE(j.is_object());
    const auto& cards = j.at("cards");
    ASSERT_EQ(cards.size(), 3u);
    const auto& c1 = cards[0];
    EXPECT_EQ(c1.at("number"), 1);
    EXPECT_EQ(c1.at("device_id"), 0x9056);
    EXPECT_EQ(c1.at("subsystem"), 0x335510B5u);
    EXPECT_EQ(c1.at("model"), 84);
    EXPECT_EQ(c1.at("model_name"), "VJX PCIe K");
    EXPECT_EQ(c1.at("revision"), 0xBA);
    EXPECT_FALSE(c1.at("bridge").is_null());
    EXPECT_EQ(c1.at("bridge").at("slow"), false);
    EXPECT_EQ(c1.at("bsb"), 0);
    EXPECT_EQ(c1.at("bljb"), 0);
    EXPECT_EQ(c1.at("epcs_id"), 0x12);
    EXPECT_EQ(c1.at("epcs_crc_valid"), true);
    const auto& c2 = cards[1];
    EXPECT_TRUE(c2.at("bridge").is_null());
    EXPECT_FALSE(c2.at("digests").contains("pcie-eeprom"));
    const auto& c3 = cards[2];
    EXPECT_TRUE(c3.at("model").is_null());
    EXPECT_EQ(c3.at("model_name"), "Unprogrammed PCIe card");
    EXPECT_EQ(c3.at("firmware_version"), "");
    EXPECT_EQ(c3.at("fpga_version"), 255);
    EXPECT_TRUE(c3.at("epcs_crc").is_null());

    Result text = run("show R");
    EXPECT_NE(text.out.find("Card 2 [80,fw=9.14,isp=5]: VJX PCI S (module 80)"), std::string::npos)
        << text.out;
}

// What the dumps hold the end-to-end tests compare byte by byte with what an
// update wrote; here, what a dump refuses.
TEST_F(Tool, DumpRefusesPartsACardDoesNotHave) {
    ASSERT_EQ(run("new R --card 84 --card 80").status, 0);
    Result none = run("dump R 2 pcie-eeprom");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("card 2 has no pcie-eeprom"), std::string::npos) << none.err;
    EXPECT_NE(run("dump R 3 eeprom").status, 0);
    EXPECT_NE(run("dump R 1 flash").status, 0);
}

TEST_F(Tool, SetAndPowerCycle) {
    ASSERT_EQ(run("new R --card 84").status, 0);
    ASSERT_EQ(run("set R 1 fw=2.30 eeprom-fault=absent").status, 0);
    nlohmann::json j = show("R");
    EXPECT_EQ(j["cards"][0]["firmware_version"], "2.30");
    EXPECT_EQ(j["cards"][0]["subsystem"], 0x335510B5u) << "a fault keeps the loaded identity";
    EXPECT_EQ(j["cards"][0]["options"], nlohmann::json::array({"fw=2.30", "eeprom-fault=absent"}));
    ASSERT_EQ(run("power-cycle R").status, 0);
    EXPECT_EQ(show("R")["cards"][0]["subsystem"], 0x905610B5u);
    ASSERT_EQ(run("set R 1 eeprom-fault=default").status, 0);
    ASSERT_EQ(run("power-cycle R --card 1").status, 0);
    EXPECT_EQ(show("R")["cards"][0]["subsystem"], 0x335510B5u);

    Result bad = run("set R 1 mcu=loud");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("option 'mcu=loud': bad value"), std::string::npos) << bad.err;
    EXPECT_EQ(run("set R 2 mcu=silent").status, 1);
    EXPECT_EQ(run("power-cycle R --card 2").status, 1);
}

TEST_F(Tool, LookingAtARackChangesNothing) {
    ASSERT_EQ(run("new R --card 84").status, 0);
    std::string before, after;
    ASSERT_TRUE(sim::readFile(path("R/card1/state.json"), &before, nullptr));
    EXPECT_EQ(run("show R").status, 0);
    EXPECT_EQ(run("show R --json").status, 0);
    EXPECT_EQ(run("dump R 1 epcs").status, 0);
    ASSERT_TRUE(sim::readFile(path("R/card1/state.json"), &after, nullptr));
    EXPECT_EQ(before, after);
}

TEST_F(Tool, NewRefusesBadCardsAndUsedDirectories) {
    Result r = run("new R --card 84,warp=9");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown option"), std::string::npos) << r.err;
    EXPECT_FALSE(sim::isDirectory(path("R"))) << "nothing made";
    ASSERT_EQ(run("new R").status, 0);
    Result again = run("new R --card 80");
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("not empty"), std::string::npos);
    EXPECT_NE(run("show nowhere").status, 0);
}

TEST_F(Tool, RunBindsTheSimulatedLibraryToTheRack) {
    ASSERT_EQ(run("new R --card 80,fpga=6 --card 84").status, 0);
    Result r = run("run R --trace t.txt --stats s.json -- '" PROBE_BIN "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("card 1001 device 9030 bus 1 key 306810b5 version 6\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("card 1002 device 9056 bus 3 key 335510b5 version 3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("bridge 1001 primary 2 secondary 3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("processes 1\n"), std::string::npos) << r.out;
    std::string trace, stats;
    ASSERT_TRUE(sim::readFile(path("t.txt"), &trace, nullptr));
    EXPECT_NE(trace.find(" card1 cr - 2c 32 306810b5\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" bridge1 cr - 18 8 2\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.compare(0, 2, "1 "), 0);
    ASSERT_TRUE(sim::readFile(path("s.json"), &stats, nullptr));
    nlohmann::json s = nlohmann::json::parse(stats, nullptr, false);
    EXPECT_EQ(s["by_kind"]["card r 2"], 2);
    EXPECT_EQ(s["accesses"], std::count(trace.begin(), trace.end(), '\n'));

    Result only = run("run R --trace t.txt --trace-only space2 -- '" PROBE_BIN "'");
    ASSERT_TRUE(sim::readFile(path("t.txt"), &trace, nullptr));
    EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 2);
    EXPECT_NE(trace.compare(0, 2, "1 "), 0) << "the numbers count every access, kept or not";

    EXPECT_NE(run("run R --trace-only bogus -- true").status, 0);
    Result badStats = run("run R --stats nowhere/s.json -- true");
    EXPECT_EQ(badStats.status, 1) << "counts that cannot be written are an error, before the program runs";
    EXPECT_NE(badStats.err.find("--stats: "), std::string::npos) << badStats.err;
    Result notRack = run("run . -- true");
    EXPECT_NE(notRack.status, 0);
    EXPECT_NE(notRack.err.find("not a rack"), std::string::npos);
    EXPECT_EQ(run("run R -- /nonexistent/program").status, 127);
}

// A Windows program (a command starting with "wine") runs with the rack held
// for it alone: Linux programs and `vjxsim set` keep off until it has ended.
TEST_F(Tool, RunHoldsTheRackForAWindowsProgram) {
    ASSERT_EQ(run("new R --card 80").status, 0);
    const std::string bin = VJXSIM_BIN;
    const std::string lib = bin.substr(0, bin.rfind('/')) + "/../sim/lib";
    // Stands in for Wine: shows what the program is handed, and what a Linux
    // program and `vjxsim set` started meanwhile meet.
    const std::string script =
        "#!/bin/sh\n"
        "echo \"hold=$VJXSIM_HOLD file=$(cat \"$VJXSIM_RACK/runtime/windows-hold\")\"\n"
        "echo \"clock=$VJXSIM_HOST_CLOCK\"\n"
        "LD_LIBRARY_PATH='" +
        lib +
        "' '" PROBE_BIN
        "'\n"
        "'" VJXSIM_BIN
        "' set \"$VJXSIM_RACK\" 1 fw=9.14; echo \"set=$?\"\n"
        "exit 7\n";
    ASSERT_TRUE(sim::writeFileAtomic(path("wine"), script, nullptr));
    ASSERT_EQ(chmod(path("wine").c_str(), 0755), 0);

    Result r = run("run R -- ./wine");
    EXPECT_EQ(r.status, 7) << "the program's status passed on\n" << r.err;
    const size_t hold = r.out.find("hold="), file = r.out.find(" file=");
    ASSERT_NE(file, std::string::npos) << r.out;
    const std::string token = r.out.substr(hold + 5, file - hold - 5);
    EXPECT_FALSE(token.empty());
    EXPECT_EQ(r.out.substr(file + 6, token.size() + 1), token + "\n") << "the token is the hold's";
    std::string boot;
    ASSERT_TRUE(sim::readFile("/proc/sys/kernel/random/boot_id", &boot, nullptr));
    EXPECT_NE(r.out.find("clock=" + boot.substr(0, boot.size() - 1) + " "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("card 1001"), std::string::npos) << "the Linux program reached a card:\n" << r.out;
    EXPECT_NE(r.out.find("held for a Windows program"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("set=1"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("in use by a running program"), std::string::npos) << r.err;

    // Afterwards the rack is free again, and the spent token holds nothing.
    std::string left;
    ASSERT_TRUE(sim::readFile(path("R/runtime/windows-hold"), &left, nullptr));
    EXPECT_EQ(left, "");
    Result after = run("run R -- '" PROBE_BIN "'");
    EXPECT_NE(after.out.find("card 1001 device 9030"), std::string::npos) << after.out << after.err;

    Result virtualTime = run("run R --clock virtual -- ./wine");
    EXPECT_EQ(virtualTime.status, 1);
    EXPECT_NE(virtualTime.err.find("runs on real time only"), std::string::npos) << virtualTime.err;
    EXPECT_EQ(virtualTime.out, "") << "not started";
}

// Every usage error is status 1, whatever the parser calls it. (The images'
// layout: the image tests; their versions reach the cards in the end-to-end
// updates.)
TEST_F(Tool, UsageErrorsExitWithOne) {
    for (const char* args :
         {"", "run", "run R --timing slow -- true", "dump R 1 flash", "show", "set R x fw=1",
          "image fpga --version 300 --size 100 -o x", "image fpga --version 1 --size 10 -o x",
          "image firmware --version 1.x.y --isp 1 -o x",
          "image firmware --version 1.00 --isp 1 --size 1000 -o x", "frobnicate"})
        EXPECT_EQ(run(args).status, 1) << args;
}

TEST_F(Tool, HelpListsEveryOption) {
    Result r = run("--help");
    EXPECT_EQ(r.status, 0);
    for (const auto& o : sim::optionTable()) EXPECT_NE(r.out.find(o.syntax), std::string::npos) << o.name;
    EXPECT_NE(r.out.find("blank-9056"), std::string::npos);
}

}  // namespace
