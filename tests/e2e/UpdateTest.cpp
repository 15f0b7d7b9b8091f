// Whole updates: configuration device, flash ROM and boot configuration
// brought to an update file's content, and the failures a card can show.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "Process.h"
#include "tcf/Crc.h"

using e2e::TempDir;

namespace {

class Update : public ::testing::Test {
protected:
    void SetUp() override {
        rack = tmp.path("rack");
        // Card 1 is the PCI 9030 card (counted first), card 2 the PCIe card.
        auto r = e2e::vjxsim(
            {"new", rack, "--card", "84,fw=0.90,isp=5,fpga=5", "--card", "80,fw=0.90,isp=5,fpga=5"});
        ASSERT_EQ(r.status, 0) << r.err;
        fpga = tmp.path("fpga.bin");
        firmware = tmp.path("fw.bin");
        ASSERT_EQ(e2e::vjxsim({"image", "fpga", "--version", "7", "--size", "20000", "-o", fpga}).status, 0);
        ASSERT_EQ(e2e::vjxsim({"image", "firmware", "--version", "2.01", "--isp", "7", "--size", "65536",
                               "-o", firmware})
                      .status,
                  0);
        fileK = build("k.tcf", "84");
        fileS = build("s.tcf", "80");
    }
    std::string build(const std::string& name, const std::string& module) {
        std::string out = tmp.path(name);
        auto r =
            e2e::tcftool({"build", "-o", out, "--module", module, "--fpga", fpga, "--firmware", firmware});
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }
    void expectCardHoldsFile(const std::string& card, const std::string& tcfPath) {
        std::string image = e2e::readText(fpga);
        auto epcs = e2e::vjxsim({"dump", rack, card, "epcs"});
        ASSERT_EQ(epcs.status, 0) << epcs.err;
        ASSERT_GE(epcs.out.size(), image.size() + 4);
        EXPECT_TRUE(epcs.out.compare(0, image.size(), image) == 0) << "configuration image differs";
        // The CRC-32 behind the image, little-endian, without final inversion.
        CCrc32 crc;
        crc.Update(image.data(), image.size());
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(static_cast<uint8_t>(epcs.out[image.size() + i]),
                      static_cast<uint8_t>(crc.Get() >> (8 * i)));

        // The flash ROM holds every segment's data at its block address and
        // its header at the end of the block, every other byte erased: the
        // image tcftool makes of the file.
        auto file = nlohmann::json::parse(e2e::tcftool({"info", tcfPath, "--json"}).out, nullptr, false);
        auto cards = nlohmann::json::parse(e2e::vjxsim({"show", rack, "--json"}).out, nullptr, false);
        ASSERT_TRUE(file["flashImage"]["digest"].is_string()) << file.dump();
        EXPECT_EQ(file["flashImage"]["digest"], cards["cards"][std::stoi(card) - 1]["digests"]["mcu-flash"])
            << "flash ROM differs from the file's segments";
    }
    TempDir tmp;
    std::string rack, fpga, firmware, fileK, fileS;
};

// Both card types brought to the file at the parts' data-sheet maximum
// times, the programs on virtual time (`vjxsim run --clock virtual`): the
// EPCS4's 10 s bulk erase and a 4 s chip erase cost no waiting, yet every
// host wait meets the part's longest time.
TEST_F(Update, BringsBothCardTypesToTheFileAtTheMaximumTimesAndStartsTheNewFirmware) {
    rack = tmp.path("rack-max");
    auto made = e2e::vjxsim({"new", rack, "--card", "84,fw=0.90,isp=5,fpga=5", "--card",
                             "80,fw=0.90,isp=5,fpga=5", "--card", "88"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::vector<std::string> atMax = {"--timing", "max", "--clock", "virtual"};

    // The host counts the PCI 9050 card first, then the PCI 9030, then the PCIe card.
    auto r = e2e::vjxflashOn(rack, {"-flash", "3", fileK}, atMax);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(e2e::contains(r.out, "Programming VJX PCIe K card was successful.\nFirmware version: 2.01\n"))
        << r.out;
    expectCardHoldsFile("1", fileK);

    r = e2e::vjxflashOn(rack, {"-flash", "2", fileS}, atMax);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(e2e::contains(r.out, "Programming VJX PCI S card was successful.\nFirmware version: 2.01\n"))
        << r.out;
    expectCardHoldsFile("2", fileS);

    auto list = e2e::vjxflashOn(rack, {"-list"}, atMax);
    EXPECT_EQ(list.status, 0) << list.out << list.err;
    EXPECT_EQ(list.out.find("Firmware version: 0.90"), std::string::npos) << list.out;
    EXPECT_TRUE(e2e::contains(list.out, "Firmware version: 2.01\nDetecting card 3...")) << list.out;
    EXPECT_TRUE(e2e::contains(list.out, "VJX PCI M (5V)")) << list.out;
}

struct FaultCase {
    const char* option;
    const char* message;
    int status = 3;
};

class UpdateFault : public Update, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(UpdateFault, FailsWithItsMessageAndARerunRecovers) {
    const FaultCase& fault = GetParam();
    ASSERT_EQ(e2e::vjxsim({"set", rack, "1", fault.option}).status, 0);
    auto r = e2e::vjxflashOn(rack, {"-flash", "2", fileK});
    EXPECT_EQ(r.status, fault.status) << r.out;
    EXPECT_TRUE(e2e::contains(r.out, fault.message)) << r.out;
    if (fault.status == 0) expectCardHoldsFile("1", fileK);

    // With the fault cleared, running the update again repairs the card.
    std::string name(fault.option);
    std::string clear = name.substr(0, name.find('=')) + "=default";
    ASSERT_EQ(e2e::vjxsim({"set", rack, "1", clear}).status, 0) << clear;
    auto again = e2e::vjxflashOn(rack, {"-flash", "2", fileK});
    EXPECT_EQ(again.status, 0) << again.out;
    expectCardHoldsFile("1", fileK);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UpdateFault,
    ::testing::Values(FaultCase{"epcs=0x14", "EPC silicon ID unknown: 0x14"},
                      FaultCase{"epcs-erase=hang", "Can't program FPGA: \nFPGA erase timeout"},
                      FaultCase{"epcs-write=hang", "Can't program FPGA: \nWrite FPGA bytes timeout"},
                      FaultCase{"fpga-config=never", "Error while programming FPGA"},
                      FaultCase{"fpga-version=0", "FPGA version number not plausible. "},
                      FaultCase{"isp-man=0x1f", "Flash-ROM manufacturer 0x1F is unknown"},
                      FaultCase{"isp-dev=0x123456", "Flash-ROM device 0x123456 is unknown"},
                      FaultCase{"isp-record=refuse", "Can't program Flash: "},
                      FaultCase{"bl-after-start=stays",
                                "Can't start application (boot loader is still running). "},
                      FaultCase{"mcu=silent", "Boot loader isn't running. "},
                      // The boot loader is then reached through the application.
                      FaultCase{"boot-request=ignored", "Programming VJX PCIe K card was successful.", 0}),
    [](const ::testing::TestParamInfo<FaultCase>& info) {
        std::string name;
        for (const char* c = info.param.option; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

// A noisy link costs retries; an answer lost on it fails the run, which is
// then reported, and running the update again finishes the job. What lands
// in the flash ROM is always exactly the file's content.
TEST_F(Update, NoisyLinkStillDeliversTheExactImage) {
    ASSERT_EQ(e2e::vjxsim({"set", rack, "1", "link=noise:0.0005:7"}).status, 0);
    int runs = 0;
    e2e::Result r;
    do {
        r = e2e::vjxflashOn(rack, {"-flash", "2", fileK});
        if (r.status != 0) {
            EXPECT_EQ(r.status, 3) << r.out;
        }
    } while (r.status != 0 && ++runs < 6);
    ASSERT_EQ(r.status, 0) << r.out;
    expectCardHoldsFile("1", fileK);
}

// Firmware whose ISP version is not the new FPGA's: the update runs to its
// end and says so, and the exit status tells a script.
TEST_F(Update, VersionMismatchAfterACompleteUpdateExitsWith4) {
    firmware = tmp.path("fw6.bin");
    ASSERT_EQ(e2e::vjxsim({"image", "firmware", "--version", "2.02", "--isp", "6", "-o", firmware}).status,
              0);
    const std::string file = build("mismatch.tcf", "84");
    auto r = e2e::vjxflashOn(rack, {"-flash", "2", file});
    EXPECT_EQ(r.status, 4) << r.out;
    EXPECT_TRUE(e2e::contains(r.out, "Compare of ISP version number failed (0x06 != 0x07). ")) << r.out;
    EXPECT_TRUE(e2e::contains(r.out, "Programming VJX PCIe K card was successful.")) << r.out;
}

}  // namespace
