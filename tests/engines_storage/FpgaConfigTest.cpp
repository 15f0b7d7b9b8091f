// The FPGA configuration-device engine against the simulated EPCS and FPGA on
// the bridges' pins (PCI 9030 GPIOC; PEX 8111 GPIOCTL with PCI 9056 CNTRL),
// driven through the update sequence so that its reports reach a log.
#include <gtest/gtest.h>

#include "EngineSupport.h"

namespace {

using namespace enginetest;

constexpr const char* kOld = ",fw=0.90,isp=5,fpga=5";

// A card with old firmware and FPGA, updated with files holding an FPGA
// image and a one-block firmware.
struct FpgaCard : OneCard {
    explicit FpgaCard(const std::string& spec, const std::string& profile = testsupport::runProfile())
        : OneCard(spec + kOld, profile) {
        rack.setTracing(false);
    }
    int run(const Bytes& image, int module = 84, const char* name = "VJX PCIe K") {
        at = log.text().size();
        UpdateFile file(Build(tcf::FileContent{module, image, {}, {}, Firmware("2.01", 7, 0x4000)}));
        return update(file, name);
    }
    // The log of the last run.
    std::string last() { return log.text().substr(at); }
    // The text of the last run's log line that starts with `start`.
    std::string line(const std::string& start) {
        const std::string text = last();
        const size_t from = text.find("\n" + start);
        if (from == std::string::npos) return "";
        return text.substr(from + 1, text.find('\n', from + 1) - from - 1);
    }
    Bytes epcs(size_t length) { return card().fpga().imageView(length); }
    size_t at = 0;
};

struct CardCase {
    const char* model;
    int module;
    const char* name;
};

class FpgaDevice : public ::testing::TestWithParam<std::tuple<CardCase, std::string>> {};

TEST_P(FpgaDevice, ProgramsANewImageAndOnlyComparesAnEqualOne) {
    const CardCase& c = std::get<0>(GetParam());
    FpgaCard card(c.model, std::get<1>(GetParam()));
    // 20004 bytes with the CRC: the last page is a short one.
    const Bytes image = FpgaImage(7, 20000);
    ASSERT_EQ(card.run(image, c.module, c.name), 1) << card.last();
    const std::string log = card.last();
    const size_t compare = log.find("\nComparing FPGA...\n");
    ASSERT_NE(compare, std::string::npos) << log;
    EXPECT_LT(compare, log.find("\nWrite enable FPGA...\n")) << log;
    EXPECT_LT(log.find("\nWrite enable FPGA...\n"), log.find("\nBulk erase FPGA...\n")) << log;
    EXPECT_LT(log.find("\nBulk erase FPGA...\n"), log.find("\nProgramming FPGA...")) << log;
    // The dots of the pages (and of the next stage) follow on the line.
    EXPECT_EQ(card.line("Programming FPGA").rfind("Programming FPGA........", 0), 0u) << log;

    // The device holds the image with its CRC-32 behind it, erased beyond.
    const Bytes expected = WithCrc(image);
    const Bytes held = card.epcs(expected.size() + 512);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), held.begin()));
    for (size_t i = expected.size(); i < held.size(); ++i) ASSERT_EQ(held[i], 0xFF) << i;
    EXPECT_EQ(card.card().fpga().version(NowUs()), 7);

    ASSERT_EQ(card.run(image, c.module, c.name), 1) << card.last();
    EXPECT_EQ(card.line("Comparing FPGA").rfind("Comparing FPGA.......", 0), 0u) << card.last();
    EXPECT_FALSE(Has(card.last(), "Bulk erase")) << card.last();
    EXPECT_FALSE(Has(card.last(), "Programming FPGA")) << card.last();
    EXPECT_EQ(card.epcs(held.size()), held);
}

INSTANTIATE_TEST_SUITE_P(Bridges, FpgaDevice,
                         ::testing::Combine(::testing::Values(CardCase{"84", 84, "VJX PCIe K"},
                                                              CardCase{"80", 80, "VJX PCI S"}),
                                            Profiles()),
                         CaseProfileName<CardCase>);

// An FPGA that never configures stops the update right behind the engine, so
// its progress dots end the line.
TEST(FpgaDevice, DotsMarkThe4KiBBoundaries) {
    FpgaCard card("84,fpga-config=never");
    const Bytes image = FpgaImage(7, 20000);  // 20004 bytes with the CRC
    EXPECT_EQ(card.run(image), 0);
    // Written pages starting at 0, 4096, 8192, 12288 and 16384.
    EXPECT_EQ(card.line("Programming FPGA"), "Programming FPGA........") << card.last();
    EXPECT_EQ(card.run(image), 0);
    // Compared pages ending at 4096, 8192, 12288 and 16384.
    EXPECT_EQ(card.line("Comparing FPGA"), "Comparing FPGA.......") << card.last();
}

// A PCI 9030 card whose configuration-done line reads 1 while the FPGA is
// held: the reconfiguration fails at once instead of taking that for a load.
TEST(FpgaDevice, ConfigurationDoneWhileHeldFailsTheReconfigurationAtOnce) {
    for (const char* fault : {"", ",fpga-config=done-while-held"}) {
        OneCard card(std::string("80") + kOld + fault);
        const uint64_t t0 = NowUs();
        int ok = -1;
        card.pci.getFpgaConfig(&ok);
        EXPECT_EQ(ok, *fault ? 0 : 1) << fault;
        if (*fault) {
            EXPECT_LT(NowUs() - t0, 10000u) << "before the release";
        }
    }
}

TEST(FpgaDeviceFault, ImageLargerThanTheDeviceIsRefusedBeforeErasing) {
    FpgaCard card("84,epcs=0x10");
    const Bytes before = card.epcs(128 * 1024);
    // 131069 bytes and the CRC: one byte more than the EPCS1 holds.
    Bytes image(128 * 1024 - 3, 0xFF);
    image[0] = 0x12;
    EXPECT_EQ(card.run(image), 0);
    EXPECT_TRUE(
        Has(card.last(), "Error -------------------\nCan't program FPGA: \nFPGA image of 131073 bytes"))
        << card.last();
    EXPECT_FALSE(Has(card.last(), "Bulk erase")) << card.last();
    EXPECT_EQ(card.epcs(128 * 1024), before);
    // An image that fills a device exactly: UpdateOnSlowestParts.
}

}  // namespace
