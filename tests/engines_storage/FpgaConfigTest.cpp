// The FPGA configuration-device engine against the simulated EPCS and FPGA on
// the bridges' pins (PCI 9030 GPIOC; PEX 8111 GPIOCTL with PCI 9056 CNTRL),
// driven through the update sequence so that its reports reach a log.
#include <gtest/gtest.h>

#include "EngineSupport.h"
#include "sim/Clock.h"

namespace {

using namespace enginetest;

constexpr const char* kOld = ",fw=0.90,isp=5,fpga=5";

Bytes EpcsView(testsupport::SimRack& rack, size_t length) {
    std::vector<uint8_t> v = rack.rack().card(1).fpga().imageView(length);
    return Bytes(v.begin(), v.end());
}

// An update file with this FPGA image and a one-block firmware.
Bytes FileWith(int module, const Bytes& fpga) {
    return Build(tcf::FileContent{module, fpga, {}, {}, Firmware("2.01", 7, 0x4000)});
}

// The text of the log line that starts with `start` (up to its line break).
std::string LineOf(const std::string& log, const std::string& start) {
    size_t at = log.find("\n" + start);
    if (at == std::string::npos) return "";
    size_t end = log.find('\n', at + 1);
    return log.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
}

struct CardCase {
    const char* model;
    int module;
    const char* name;
};

class FpgaDevice : public ::testing::TestWithParam<std::tuple<CardCase, std::string>> {};

TEST_P(FpgaDevice, ProgramsANewImageAndOnlyComparesAnEqualOne) {
    const CardCase& c = std::get<0>(GetParam());
    const std::string& profile = std::get<1>(GetParam());
    testsupport::SimRack rack({std::string(c.model) + kOld}, profile);
    rack.setTracing(false);
    CVjxPci pci;
    OpenCard(pci, 0);
    const Bytes image = FpgaImage(7, 20000);
    UpdateFile file(FileWith(c.module, image));

    CapturedLog first;
    ASSERT_EQ(RunUpdate(pci, file, first.log(), c.name), 1) << first.text();
    const std::string log = first.text();
    const size_t compare = log.find("\nComparing FPGA...\n");
    const size_t enable = log.find("\nWrite enable FPGA...\n");
    const size_t erase = log.find("\nBulk erase FPGA...\n");
    const size_t program = log.find("\nProgramming FPGA...");
    ASSERT_NE(compare, std::string::npos) << log;
    EXPECT_LT(compare, enable) << log;
    EXPECT_LT(enable, erase) << log;
    EXPECT_LT(erase, program) << log;
    // The dots of the pages (and of the next stage) follow on the line.
    EXPECT_EQ(LineOf(log, "Programming FPGA").rfind("Programming FPGA........", 0), 0u) << log;

    // The device holds the image with its CRC-32 behind it, erased beyond.
    const Bytes expected = WithCrc(image);
    const Bytes held = EpcsView(rack, expected.size() + 512);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), held.begin()));
    for (size_t i = expected.size(); i < held.size(); ++i) ASSERT_EQ(held[i], 0xFF) << i;
    EXPECT_EQ(rack.rack().card(1).fpga().version(NowUs()), 7);

    CapturedLog second;
    ASSERT_EQ(RunUpdate(pci, file, second.log(), c.name), 1) << second.text();
    EXPECT_EQ(LineOf(second.text(), "Comparing FPGA").rfind("Comparing FPGA.......", 0), 0u) << second.text();
    EXPECT_EQ(second.text().find("Bulk erase"), std::string::npos) << second.text();
    EXPECT_EQ(second.text().find("Programming FPGA"), std::string::npos) << second.text();
    EXPECT_EQ(EpcsView(rack, held.size()), held);
}

INSTANTIATE_TEST_SUITE_P(Bridges, FpgaDevice,
                         ::testing::Combine(::testing::Values(CardCase{"84", 84, "VJX PCIe K"},
                                                              CardCase{"80", 80, "VJX PCI S"}),
                                            Profiles()),
                         CaseProfileName<CardCase>);

// An FPGA that never configures stops the update right behind the engine, so
// its progress dots end the line.
TEST(FpgaDevice, DotsMarkThe4KiBBoundaries) {
    testsupport::SimRack rack({std::string("84") + kOld + ",fpga-config=never"});
    rack.setTracing(false);
    CVjxPci pci;
    OpenCard(pci, 0);
    UpdateFile file(FileWith(84, FpgaImage(7, 20000)));  // 20004 bytes with the CRC
    CapturedLog first;
    EXPECT_EQ(RunUpdate(pci, file, first.log(), "VJX PCIe K"), 0);
    // Written pages starting at 0, 4096, 8192, 12288 and 16384.
    EXPECT_EQ(LineOf(first.text(), "Programming FPGA"),
              "Programming FPGA..."
              ".....")
        << first.text();
    CapturedLog second;
    EXPECT_EQ(RunUpdate(pci, file, second.log(), "VJX PCIe K"), 0);
    // Compared pages ending at 4096, 8192, 12288 and 16384.
    EXPECT_EQ(LineOf(second.text(), "Comparing FPGA"),
              "Comparing FPGA..."
              "....")
        << second.text();
}

// A PCI 9030 card whose configuration-done line reads 1 while the FPGA is
// held: the reconfiguration fails at once instead of taking that for a load.
TEST(FpgaDevice, ConfigurationDoneWhileHeldFailsTheReconfigurationAtOnce) {
    for (const char* fault : {"", ",fpga-config=done-while-held"}) {
        testsupport::SimRack rack({std::string("80") + kOld + fault});
        CVjxPci pci;
        OpenCard(pci, 0);
        const uint64_t t0 = sim::virtualClock().nowUs();
        int ok = -1;
        pci.getFpgaConfig(&ok);
        EXPECT_EQ(ok, *fault ? 0 : 1) << fault;
        if (*fault) {
            EXPECT_LT(sim::virtualClock().nowUs() - t0, 10000u) << "before the release";
        }
    }
}

TEST(FpgaDevice, ShortLastPageIsWrittenUpToTheImageEnd) {
    testsupport::SimRack rack({std::string("84") + kOld});
    rack.setTracing(false);
    CVjxPci pci;
    OpenCard(pci, 0);
    const Bytes image = FpgaImage(7, 1000);  // 1004 with the CRC: three pages and 236 bytes
    UpdateFile file(FileWith(84, image));
    CapturedLog log;
    ASSERT_EQ(RunUpdate(pci, file, log.log(), "VJX PCIe K"), 1) << log.text();
    const Bytes expected = WithCrc(image);
    const Bytes held = EpcsView(rack, 2048);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), held.begin()));
    for (size_t i = expected.size(); i < held.size(); ++i) ASSERT_EQ(held[i], 0xFF) << i;
}

TEST(FpgaDevice, ErasedPagesAreNotWritten) {
    testsupport::SimRack rack({std::string("84") + kOld});
    rack.setTracing(false);
    CVjxPci pci;
    OpenCard(pci, 0);
    const Bytes image(8192, 0xFF);  // only the CRC page (at 8192) holds data
    UpdateFile file(FileWith(84, image));
    CapturedLog log;
    EXPECT_EQ(RunUpdate(pci, file, log.log(), "VJX PCIe K"), 0);
    // A dot for the CRC page only; the pages at 0 and 4096 were skipped.
    EXPECT_EQ(LineOf(log.text(), "Programming FPGA"),
              "Programming FPGA..."
              ".")
        << log.text();
    // An all-0xFF image does not configure the FPGA.
    EXPECT_NE(log.text().find("Error -------------------\nError while programming FPGA"), std::string::npos)
        << log.text();
    const Bytes expected = WithCrc(image);
    EXPECT_EQ(EpcsView(rack, expected.size()), expected);
}

TEST(FpgaDeviceFault, UnknownSiliconIdStopsBeforeAnything) {
    testsupport::SimRack rack({std::string("84") + kOld + ",epcs=0x14"});
    CVjxPci pci;
    OpenCard(pci, 0);
    const Bytes before = EpcsView(rack, 0x10000);
    UpdateFile file(FileWith(84, FpgaImage(7, 20000)));
    CapturedLog log;
    EXPECT_EQ(RunUpdate(pci, file, log.log(), "VJX PCIe K"), 0);
    EXPECT_NE(log.text().find("Error -------------------\nEPC silicon ID unknown: 0x14\n"), std::string::npos)
        << log.text();
    EXPECT_EQ(log.text().find("Comparing FPGA"), std::string::npos);
    EXPECT_EQ(EpcsView(rack, 0x10000), before);
}

TEST(FpgaDeviceFault, EraseThatNeverEndsTimesOutAfterTenSeconds) {
    testsupport::SimRack rack({std::string("84") + kOld + ",epcs-erase=hang"});
    rack.setTracing(false);
    CVjxPci pci;
    OpenCard(pci, 0);
    UpdateFile file(FileWith(84, FpgaImage(7, 20000)));
    CapturedLog log;
    const uint64_t start = NowUs();
    EXPECT_EQ(RunUpdate(pci, file, log.log(), "VJX PCIe K"), 0);
    const uint64_t waited = NowUs() - start;
    EXPECT_GE(waited, 10000000u);
    EXPECT_LT(waited, 12000000u);
    // Nothing is written after the failed erase: no dot behind the line.
    EXPECT_EQ(LineOf(log.text(), "Programming FPGA"),
              "Programming FPGA..."
              "")
        << log.text();
    EXPECT_NE(log.text().find("Error -------------------\nCan't program FPGA: \nFPGA erase timeout\n"),
              std::string::npos)
        << log.text();
}

TEST(FpgaDeviceFault, PageWriteThatNeverEndsTimesOut) {
    testsupport::SimRack rack({std::string("84") + kOld + ",epcs-write=hang"});
    rack.setTracing(false);
    CVjxPci pci;
    OpenCard(pci, 0);
    UpdateFile file(FileWith(84, FpgaImage(7, 20000)));
    CapturedLog log;
    EXPECT_EQ(RunUpdate(pci, file, log.log(), "VJX PCIe K"), 0);
    EXPECT_NE(log.text().find("Error -------------------\nCan't program FPGA: \nWrite FPGA bytes timeout\n"),
              std::string::npos)
        << log.text();
    EXPECT_EQ(log.text().find("Boot loader"), std::string::npos);
}

TEST(FpgaDeviceFault, ImageLargerThanTheDeviceIsRefusedBeforeErasing) {
    testsupport::SimRack rack({std::string("84") + kOld + ",epcs=0x10"});
    rack.setTracing(false);
    CVjxPci pci;
    OpenCard(pci, 0);
    const Bytes before = EpcsView(rack, 128 * 1024);

    // 131069 bytes and the CRC: one byte more than the EPCS1 holds.
    Bytes image(128 * 1024 - 3, 0xFF);
    image[0] = 0x12;
    UpdateFile tooBig(FileWith(84, image));
    CapturedLog log;
    EXPECT_EQ(RunUpdate(pci, tooBig, log.log(), "VJX PCIe K"), 0);
    EXPECT_NE(log.text().find("Error -------------------\nCan't program FPGA: \nFPGA image of 131073 bytes"),
              std::string::npos)
        << log.text();
    EXPECT_EQ(log.text().find("Bulk erase"), std::string::npos) << log.text();
    EXPECT_EQ(EpcsView(rack, 128 * 1024), before);

    // One byte less fits exactly and is programmed.
    image.pop_back();
    UpdateFile fits(FileWith(84, image));
    CapturedLog log2;
    EXPECT_EQ(RunUpdate(pci, fits, log2.log(), "VJX PCIe K"), 0);  // the image does not configure
    EXPECT_NE(log2.text().find("\nProgramming FPGA"), std::string::npos) << log2.text();
    EXPECT_EQ(EpcsView(rack, 128 * 1024), WithCrc(image));
}

TEST(FpgaDeviceFault, SlowModeCardIsRefusedBeforeTheBridgeIsWritten) {
    testsupport::SimRack rack({std::string("84") + kOld + ",slow"});
    CVjxPci pci;
    OpenCard(pci, 0);
    const Bytes before = EpcsView(rack, 0x10000);
    UpdateFile file(FileWith(84, FpgaImage(7, 20000)));
    CapturedLog log;
    rack.clearTrace();
    EXPECT_EQ(RunUpdate(pci, file, log.log(), "VJX PCIe K"), 0);
    EXPECT_NE(log.text().find(CVjxPci::kSlowModeRefused), std::string::npos) << log.text();
    for (const Access& a : Accesses(rack)) {
        EXPECT_FALSE(a.function.rfind("bridge", 0) == 0 && (a.op == "w" || a.op == "cw")) << a.function;
    }
    EXPECT_EQ(EpcsView(rack, 0x10000), before);
}

}  // namespace
