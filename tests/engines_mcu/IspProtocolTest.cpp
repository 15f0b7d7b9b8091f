// The boot-loader protocol: reset pulses, detection, records and their
// echoes, result parsing, identification, erase and boot configuration.
#include <string>
#include <vector>

#include "tests/engines_storage/EngineSupport.h"

namespace {

using namespace enginetest;
using U32s = std::vector<uint32_t>;

TEST(IspReset, PulsesTheResetAndReopensThePort) {
    OneCard c("80");
    CVjxPci& p = c.pci;
    uint64_t t0 = NowUs();
    ASSERT_EQ(p.doIspReset(1), 1);
    // Reset with the request, the request alone for 2 ms, released; the port
    // (closed before) opens.
    EXPECT_EQ(c.writes(kCfg), (U32s{0x05, 0x04, 0x00, 0x08}));
    EXPECT_EQ(c.writes(kTrcon), U32s{0x15});
    EXPECT_GE(NowUs() - t0, 352000u);
    EXPECT_LT(NowUs() - t0, 352100u) << "the sleeps and a few bus accesses";
    EXPECT_TRUE(p.Com_isOpen());
    EXPECT_EQ(p.doIspDetect(), 1);

    // A plain reset starts the application, which does not answer "U": one
    // silent probe, not a hundred.
    c.rack.clearTrace();
    ASSERT_EQ(p.doIspReset(0), 1);
    EXPECT_EQ(c.writes(kCfg), (U32s{0x01, 0x00, 0x00, 0x08}));
    c.rack.clearTrace();
    t0 = NowUs();
    EXPECT_EQ(p.doIspDetect(), 0);
    EXPECT_EQ(c.sent(), "U");
    EXPECT_LT(NowUs() - t0, 60000u);
}

// A link that garbles or drops every byte: detection and a record end after
// their bounded tries with the record's reason instead of waiting forever.
// Retries that succeed on a noisy link: the end-to-end NoisyLink test.
TEST(IspLink, DeadLinkEndsDetectionAndTheRecordWithAnError) {
    OneCard c("80,link=noise:1:7");
    c.rack.setTracing(false);
    CVjxPci& p = c.pci;
    ASSERT_EQ(p.Com_open(), 1);
    EXPECT_EQ(p.doIspDetect(), 0);
    unsigned char data[] = {0x00, 0x00};
    EXPECT_EQ(p.sendIspRecord(2, 0, 0x05, data), 0);
    EXPECT_STREQ(p.getLastError(), "Wrong echo in sendIspRecord()");
    EXPECT_EQ(p.Com_setTimeout(50), 50);
}

class IspCommandsProfile : public ::testing::TestWithParam<std::string> {};

TEST_P(IspCommandsProfile, IdentificationEraseAndBootConfiguration) {
    OneCard c("80", GetParam());
    c.enterBootLoader();
    CVjxPci& p = c.pci;
    unsigned int version = 0;
    unsigned long manufacturer = 0;
    unsigned long device = 0;
    EXPECT_EQ(p.getIspVersion(&version), 1);
    EXPECT_NE(version, 0u);
    c.rack.clearTrace();
    EXPECT_EQ(p.getIspMan(&manufacturer), 1);
    EXPECT_EQ(c.sent(), ":020000050000F9");
    EXPECT_EQ(manufacturer, 0x58u);
    EXPECT_EQ(p.getIspDev(&device), 1);
    EXPECT_EQ(device, 0xD7ECEFu);

    EXPECT_EQ(p.setIspEraseChip(), 1);
    EXPECT_EQ(c.card().mcu().bsb(), 0xFF);
    int blank = -1;
    EXPECT_EQ(p.getIspBlankCheck(0x80, &blank), 1);
    EXPECT_EQ(blank, 1);
    unsigned char data[] = {0x00};
    ASSERT_EQ(p.setIspProgram(0x9000, data, 1, nullptr), 1);
    c.rack.clearTrace();
    EXPECT_EQ(p.getIspBlankCheck(0x80, &blank), 1);
    EXPECT_EQ(blank, 0);
    EXPECT_EQ(c.sent(), ":050000048000BFFF01B8");
}

INSTANTIATE_TEST_SUITE_P(Profiles, IspCommandsProfile, Profiles());

}  // namespace
