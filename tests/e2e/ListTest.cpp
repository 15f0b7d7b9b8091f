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
    for (const auto& c : cards) {
        args.push_back("--card");
        args.push_back(c);
    }
    auto r = e2e::vjxsim(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return rack;
}

TEST(ListCommand, ListsKnownCardsInCountingOrderAndSkipsBlankOnes) {
    TempDir tmp;
    std::string rack = makeRack(tmp, {"84,fw=9.14", "blank-9030", "93"});
    auto r = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kBanner + "\n" +
                         "Detecting card 1...\n"
                         "Detected: VJX PCI R card\n"
                         "Firmware version: 1.00\n"
                         "Detecting card 2...\n"
                         "Detected: VJX PCIe K card\n"
                         "Firmware version: 9.14\n");
    EXPECT_EQ(r.err, "");
}

TEST(ListCommand, FlashOfACardNumberBeyondTheListIsRefusedWithStatus3) {
    TempDir tmp;
    std::string rack = makeRack(tmp, {"84,fw=9.14", "blank-9030", "93"});
    auto r = e2e::vjxflashOn(rack, {"-flash", "3", tmp.path("x.tcf")});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.out, kBanner + "\n" + kPlainTop +
                         "There is no card with number 3.\n"
                         "Please enter a card number fom 1 to 2.\n" +
                         kBottom + "\n");
}

TEST(ListCommand, FlashOfCardZeroIsRefused) {
    TempDir tmp;
    std::string rack = makeRack(tmp, {"93"});
    auto r = e2e::vjxflashOn(rack, {"-flash", "0", tmp.path("x.tcf")});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("There is no card with number 0.\nPlease enter a card number fom 1 to 1.\n"),
              std::string::npos)
        << r.out;
}

TEST(ListCommand, EmptyRackEndsWithStatus2) {
    TempDir tmp;
    std::string rack = makeRack(tmp, {});
    auto r = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, kBanner + "\n" + kErrorTop + "No VJX cards found!\n" + kBottom + "\n");
}

TEST(ListCommand, OnlyUnprogrammedCardsEndWithStatus2) {
    TempDir tmp;
    std::string rack = makeRack(tmp, {"blank-9056"});
    auto r = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, kBanner + "\n" + kErrorTop + "Cards found, but no VJX cards!\n" + kBottom + "\n");
}

TEST(ListCommand, SilentMicrocontrollerDropsOnlyTheVersionLine) {
    TempDir tmp;
    std::string rack = makeRack(tmp, {"93,mcu=silent", "95"});
    auto r = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + "\n" +
                         "Detecting card 1...\n"
                         "Detected: VJX PCI R card\n"
                         "Detecting card 2...\n"
                         "Detected: VJX PCI K (v2) card\n"
                         "Firmware version: 1.00\n");
}

TEST(ListCommand, FirmwareThatDisagreesWithTheFpgaShowsNoVersion) {
    TempDir tmp;
    std::string rack = makeRack(tmp, {"93,isp=7,fpga=8"});
    auto r = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("Firmware version:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Detected: VJX PCI R card"), std::string::npos);
}

TEST(ListCommand, FiveVoltCardsAreListedWithoutFlashUpdate) {
    TempDir tmp;
    std::string rack = makeRack(tmp, {"88"});
    auto r = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + "\n" +
                         "Detecting card 1...\n"
                         "Detected: VJX PCI M (5V) card\n"
                         "Card doesn't support flash updates\n");
}

TEST(ListCommand, CardThatCannotBeOpenedIsReportedAndLeftOut) {
    TempDir tmp;
    std::string rack = makeRack(tmp, {"84,open=fail", "93"});
    auto r = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Detecting card 1...\nDetected: VJX PCI R card\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Card 2: Detection failed!\n"), std::string::npos) << r.out;
}

// Register files that only root may open: the access library's reason is
// shown once, by -list and by -flash.
TEST(ListCommand, ACardWhoseRegistersRefuseTheUserShowsTheLibrarysReason) {
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

TEST(ListCommand, PcieCardWithoutItsBridgeFailsDetection) {
    TempDir tmp;
    std::string rack = makeRack(tmp, {"84,bridge=none"});
    auto r = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("Cards found, but no VJX cards!"), std::string::npos) << r.out;
}

TEST(ListCommand, BridgeWithoutAddressSpaceIsAnnouncedAsSlowMode) {
    TempDir tmp;
    std::string rack = makeRack(tmp, {"84,slow"});
    auto r = e2e::vjxflashOn(rack, {"-list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + "\n" +
                         "Detecting card 1...\n"
                         "Using slow FPGA programming mode\n"
                         "Detected: VJX PCIe K card\n"
                         "Firmware version: 1.00\n");
}

}  // namespace
