// The Linux program meets a PCIe-core card (module 96..99: a PCI 9056
// function of revision 0x80 without a PEX 8111): it takes it for a PCI 9056
// card behind a bridge, finds none, reports the card as not detected, and
// never writes to it.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "Process.h"

using e2e::TempDir;

namespace {

// The accesses to `function` in a bus trace, counted by operation (r, w, cr, cw).
std::map<std::string, int> accessesTo(const std::string& trace, const std::string& function) {
    std::map<std::string, int> ops;
    std::istringstream lines(trace);
    std::string seq, time, fn, op;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream f(line);
        if (f >> seq >> time >> fn >> op && fn == function) ++ops[op];
    }
    return ops;
}

TEST(PcieCoreOnLinux, ListedAsNotDetectedAndNeverWritten) {
    TempDir tmp;
    const std::string rack = tmp.path("rack");
    auto made = e2e::vjxsim({"new", rack, "--card", "97,fw=2.10", "--card", "84,fw=9.14"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string before = e2e::vjxsim({"show", rack, "--json"}).out;
    ASSERT_NE(before.find("\"pcie_link\":\"up\""), std::string::npos) << before;

    const std::string trace = tmp.path("trace");
    auto list = e2e::vjxflashOn(rack, {"-list"}, {"--trace", trace});
    EXPECT_EQ(list.status, 0) << list.err;
    // Bus order: the PCIe-core card is the first PCI 9056 function.
    EXPECT_EQ(list.out,
              "ORVEN VJX Flash Version 5.33\n\n"
              "Card 1: Detection failed!\n"
              "Detecting card 1...\n"
              "Detected: VJX PCIe K card\n"
              "Firmware version: 9.14\n");
    const auto ops = accessesTo(e2e::readText(trace), "card1");
    EXPECT_GT(ops.count("cr") ? ops.at("cr") : 0, 0) << "its identity was read";
    EXPECT_EQ(ops.size(), 1u) << "and nothing else: no register access, no configuration write";

    // An update aimed at it: card 2 is beyond the list of detected cards.
    const std::string file = e2e::newRackAndUpdate(tmp.path("other"), "84", 16384);
    ASSERT_FALSE(file.empty());
    auto flash = e2e::vjxflashOn(rack, {"-flash", "2", file});
    EXPECT_EQ(flash.status, 3) << flash.out;
    EXPECT_NE(flash.out.find("There is no card with number 2.\n"), std::string::npos) << flash.out;
    EXPECT_EQ(e2e::vjxsim({"show", rack, "--json"}).out, before);
}

}  // namespace
