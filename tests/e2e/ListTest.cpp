// `vjxflash -list` and the start-up paths on simulated racks.
#include <gtest/gtest.h>

#include "Process.h"

using e2e::TempDir;

namespace {

const std::string kBanner = "ORVEN VJX Flash Version 5.33\n";
const std::string kErrorTop = "------------------- Error -------------------\n";
const std::string kPlainTop = "---------------------------------------------\n";
const std::string kBottom = "---------------------------------------------";

std::string makeRack(const TempDir& tmp, const std::vector<std::string>& cards) {
    std::string rack = tmp.path("rack");
    std::vector<std::string> args{"new", rack};
    for (const auto& c : cards) args.insert(args.end(), {"--card", c});
    auto r = e2e::vjxsim(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return rack;
}

// A rack, a command (a file named "x.tcf" that does not exist), the exit
// status and the whole output behind the banner, or (partOnly) a part of it.
struct ListCase {
    std::vector<std::string> cards;
    std::vector<std::string> args;
    int status;
    std::string out;
    bool partOnly = false;
};

class ListCommand : public ::testing::TestWithParam<ListCase> {};

TEST_P(ListCommand, ShowsTheCardsOrTheReasonWithItsStatus) {
    const ListCase& c = GetParam();
    TempDir tmp;
    const std::string rack = makeRack(tmp, c.cards);
    std::vector<std::string> args = c.args;
    if (args.size() == 3) args[2] = tmp.path(args[2]);
    auto r = e2e::vjxflashOn(rack, args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    if (c.partOnly) {
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    } else {
        EXPECT_EQ(r.out, kBanner + "\n" + c.out);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Racks, ListCommand,
    ::testing::Values(
        // Counting order, the blank card left out.
        ListCase{{"84,fw=9.14", "blank-9030", "93"},
                 {"-list"},
                 0,
                 "Detecting card 1...\nDetected: VJX PCI R card\nFirmware version: 1.00\n"
                 "Detecting card 2...\nDetected: VJX PCIe K card\nFirmware version: 9.14\n"},
        ListCase{{"84,fw=9.14", "blank-9030", "93"},
                 {"-flash", "3", "x.tcf"},
                 3,
                 kPlainTop + "There is no card with number 3.\nPlease enter a card number fom 1 to 2.\n" +
                     kBottom + "\n"},
        ListCase{{"93"},
                 {"-flash", "0", "x.tcf"},
                 3,
                 "There is no card with number 0.\nPlease enter a card number fom 1 to 1.\n",
                 true},
        ListCase{{}, {"-list"}, 2, kErrorTop + "No VJX cards found!\n" + kBottom + "\n"},
        ListCase{
            {"blank-9056"}, {"-list"}, 2, kErrorTop + "Cards found, but no VJX cards!\n" + kBottom + "\n"},
        ListCase{{"84,bridge=none"}, {"-list"}, 2, "Cards found, but no VJX cards!", true},
        // A silent microcontroller, or firmware that disagrees with the
        // FPGA, drops only the version line.
        ListCase{{"93,mcu=silent", "95"},
                 {"-list"},
                 0,
                 "Detecting card 1...\nDetected: VJX PCI R card\n"
                 "Detecting card 2...\nDetected: VJX PCI K (v2) card\nFirmware version: 1.00\n"},
        ListCase{{"93,isp=7,fpga=8"}, {"-list"}, 0, "Detecting card 1...\nDetected: VJX PCI R card\n"},
        ListCase{{"88"},
                 {"-list"},
                 0,
                 "Detecting card 1...\nDetected: VJX PCI M (5V) card\nCard doesn't support flash updates\n"},
        ListCase{{"84,open=fail", "93"},
                 {"-list"},
                 0,
                 "Detecting card 1...\nDetected: VJX PCI R card\nFirmware version: 1.00\n"
                 "Card 2: Detection failed!\n"},
        // A bridge without address space is announced as slow mode.
        ListCase{{"84,slow"},
                 {"-list"},
                 0,
                 "Detecting card 1...\nUsing slow FPGA programming mode\nDetected: VJX PCIe K card\n"
                 "Firmware version: 1.00\n"}));

// Register files that only root may open: the access library's reason is
// shown once, by -list and by -flash.
TEST(ListAccess, ACardWhoseRegistersRefuseTheUserShowsTheLibrarysReason) {
    TempDir tmp;
    std::string rack = makeRack(tmp, {"80,open=denied", "80,open=denied"});
    const std::string reason = "(access to VJX cards needs root rights)";
    auto count = [&](const std::string& text) {
        size_t n = 0;
        for (size_t at = text.find(reason); at != std::string::npos; at = text.find(reason, at + 1)) ++n;
        return n;
    };
    auto list = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("Detected: VJX PCI S card\n"), std::string::npos) << list.out;
    EXPECT_EQ(count(list.out), 1u) << list.out;

    const std::string file = tmp.path("s.tcf");
    ASSERT_EQ(e2e::tcftool({"build", "-o", file, "--module", "80"}).status, 0);
    auto flash = e2e::vjxflashOn(rack, {"-flash", "1", file});
    EXPECT_EQ(flash.status, 3);
    EXPECT_NE(flash.out.find("Failed reading EEPROM!"), std::string::npos) << flash.out;
    EXPECT_EQ(count(flash.out), 1u) << flash.out;
}

}  // namespace
