// Flash-ROM programming: boot-loader entry, blocks split into records,
// refused records, the application start, and the whole stage inside an
// update with each of its failure messages.
#include <algorithm>
#include <string>
#include <vector>

#include "McuTestSupport.h"

namespace {

using namespace mcutest;
using U32s = std::vector<uint32_t>;

size_t CfgPulses(OneCard& c, uint32_t value) {
    const U32s w = c.writes(kCfg);
    return static_cast<size_t>(std::count(w.begin(), w.end(), value));
}

TEST(BootEntry, ResetRequestReachesTheBootLoader) {
    OneCard c("80");
    EXPECT_EQ(c.pci.doEnableBootrom(), 1);
    EXPECT_EQ(CfgPulses(c, 0x05), 1u);
    EXPECT_EQ(c.sent(), "U");
}

TEST(BootEntry, ApplicationIsAskedWhenTheResetRequestIsIgnored) {
    OneCard c("80,boot-request=ignored");
    EXPECT_EQ(c.pci.doEnableBootrom(), 1);
    EXPECT_EQ(CfgPulses(c, 0x05), 1u);
    // "U" to the application, "S", then "U" probes until the boot loader
    // has started (more than one at the part's slowest start-up).
    const std::string sent = c.sent();
    EXPECT_EQ(sent.substr(0, 3), "USU");
    EXPECT_EQ(sent.find_first_not_of('U', 2), std::string::npos) << sent;
    EXPECT_EQ(c.pci.Com_setTimeout(50), 50);
}

TEST(BootEntry, GivesUpAfterThreeResetsNineRequestsAndThirtyProbes) {
    for (const char* spec : {"80,boot-request=ignored,app-s=ignored", "80,mcu=silent"}) {
        SCOPED_TRACE(spec);
        OneCard c(spec);
        EXPECT_EQ(c.pci.doEnableBootrom(), 0);
        const std::string sent = c.sent();
        EXPECT_EQ(CfgPulses(c, 0x05), 3u);
        EXPECT_EQ(countOf(sent, "S"), 9u);
        EXPECT_EQ(countOf(sent, "U"), 30u);
        EXPECT_EQ(sent.size(), 39u);
    }
}

TEST(ProgramBlock, GoesOutInRecordsOf128Bytes) {
    OneCard c("80");
    c.enterBootLoader();
    CVjxPci& p = c.pci;
    ASSERT_EQ(p.setIspEraseChip(), 1);
    c.rack.clearTrace();

    std::vector<unsigned char> data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i);
    ASSERT_EQ(p.setIspProgramBlock(0x4000, data.data(), 300), 1) << p.getLastError();
    std::vector<unsigned char> trailer(16, 0xA5);
    ASSERT_EQ(p.setIspProgramBlock(0x4000 + 0x3FF0, trailer.data(), 16), 1);

    std::vector<std::string> heads;
    for (const std::string& r : records(c.sent())) heads.push_back(r.substr(0, 9));
    EXPECT_EQ(heads, (std::vector<std::string>{":80400000", ":80408000", ":2C410000", ":107FF000"}));

    const std::vector<unsigned char> flash = c.flash();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin() + 0x4000));
    EXPECT_TRUE(std::equal(trailer.begin(), trailer.end(), flash.begin() + 0x7FF0));
    EXPECT_TRUE(std::all_of(flash.begin() + 0x4000 + 300, flash.begin() + 0x7FF0,
                            [](unsigned char b) { return b == 0xFF; }));
}

TEST(ProgramBlock, RefusedRecordsAreAllSentThenTheBlockFails) {
    OneCard c("80,isp-record=refuse");
    c.enterBootLoader();
    CVjxPci& p = c.pci;
    std::vector<unsigned char> data(300, 0x11);
    const std::string before = p.getLastError();
    EXPECT_EQ(p.setIspProgramBlock(0x4000, data.data(), 300), 0);
    EXPECT_EQ(std::string(p.getLastError()), "Can't program Flash: " + before);
    EXPECT_EQ(records(c.sent()).size(), 3u);
}

TEST(ProgramBlock, CommunicationErrorStopsAtTheFailingRecord) {
    // The application does not echo records.
    OneCard c("80");
    ASSERT_EQ(c.pci.Com_open(), 1);
    std::vector<unsigned char> data(300, 0x11);
    EXPECT_EQ(c.pci.setIspProgramBlock(0x4000, data.data(), 300), 0);
    EXPECT_STREQ(c.pci.getLastError(),
                 "Communication error while programming Flash: Wrong echo in sendIspRecord()");
    for (const std::string& r : records(c.sent())) EXPECT_EQ(r.substr(0, 9), ":80400000");
}

TEST(StartApplication, ProbesUntilTheBootLoaderIsGoneThenAsksTheApplication) {
    OneCard c("80");
    c.enterBootLoader();
    CVjxPci& p = c.pci;
    ASSERT_EQ(p.doIspStartApplication(), 1);
    const std::string sent = c.sent();
    // The start record, twelve silent probes (600 ms at 50 ms), the version
    // request.
    EXPECT_EQ(sent, ":0400000303010000F5" + std::string(12, 'U') + "R");
    EXPECT_EQ(p.doIspDetect(), 0);
    EXPECT_EQ(c.card().mcu().runningVersion(), "1.00");
}

TEST(StartApplication, BootLoaderThatStaysCountsAsStartedAndFailsThatHasNoApplication) {
    {
        OneCard c("80,bl-after-start=stays");
        c.enterBootLoader();
        EXPECT_EQ(c.pci.doIspStartApplication(), 1);
        EXPECT_EQ(c.pci.doIspDetect(), 1);
    }
    {
        OneCard c("80,app-start=fails");
        c.enterBootLoader();
        EXPECT_EQ(c.pci.doIspStartApplication(), 0);
    }
}

// ---- The flash-ROM stage inside an update ---------------------------------

struct Outcome {
    int result = 0;
    std::string log;
};

Outcome Update(OneCard& c, const std::vector<unsigned char>& file) {
    c.rack.setTracing(false);
    CapturedLog log;
    Outcome o;
    o.result = RunUpdate(c.pci, file, log.log(), "VJX PCI S");
    o.log = log.text();
    return o;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class FlashRomStage : public ::testing::TestWithParam<std::string> {};

TEST_P(FlashRomStage, ProgramsEverySegmentAndItsTrailerThenStartsTheNewFirmware) {
    OneCard c("80,fw=1.00,fpga=3", GetParam());
    std::vector<tcf::SegmentData> segments;
    const std::vector<unsigned char> file = UpdateBytes(80, 3, "2.05", 3, 65536, &segments);
    const Outcome o = Update(c, file);
    ASSERT_EQ(o.result, 1) << o.log;
    EXPECT_TRUE(Contains(o.log, "Programming VJX PCI S card was successful.\nFirmware version: 2.05"))
        << o.log;

    // One dot per KiB of each segment's data on the programming line, then
    // the dot before the start.
    size_t dots = 1;
    for (const tcf::SegmentData& s : segments) dots += (s.data.size() + 1023) / 1024;
    EXPECT_TRUE(Contains(o.log, "\nProgramming flash ROM..." + std::string(dots, '.') + "\n")) << o.log;

    const std::vector<unsigned char> flash = c.flash();
    ASSERT_EQ(segments.size(), 4u);
    size_t offset = 256;  // the segment chain follows the file header
    for (const tcf::SegmentData& s : segments) {
        SCOPED_TRACE(s.address);
        const auto data = flash.begin() + s.address;
        EXPECT_TRUE(std::equal(s.data.begin(), s.data.end(), data));
        EXPECT_TRUE(std::all_of(data + static_cast<long>(s.data.size()), data + 0x3FF0,
                                [](unsigned char b) { return b == 0xFF; }));
        // The block's trailer is the segment header as the file carries it.
        const auto header = file.begin() + static_cast<long>(offset);
        EXPECT_TRUE(std::equal(header, header + 16, data + 0x3FF0));
        offset += 16 + s.data.size();
    }
    EXPECT_EQ(c.card().mcu().bsb(), 0);
    EXPECT_EQ(c.card().mcu().bljb(), 0);
    EXPECT_EQ(c.card().mcu().runningVersion(), "2.05");
}

INSTANTIATE_TEST_SUITE_P(Profiles, FlashRomStage, Profiles());

struct FailureCase {
    const char* spec;
    const char* message;
};

class FlashRomFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FlashRomFailure, IsReportedOnceAndEndsTheUpdate) {
    OneCard c(GetParam().spec);
    const Outcome o = Update(c, UpdateBytes(80, 3, "2.05", 3, 16384));
    EXPECT_EQ(o.result, 0);
    EXPECT_TRUE(
        Contains(o.log, "------------------- Error -------------------\n" + std::string(GetParam().message)))
        << o.log;
    EXPECT_EQ(countOf(o.log, "- Error -"), 1u) << o.log;
    EXPECT_FALSE(Contains(o.log, "successful")) << o.log;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, FlashRomFailure,
    ::testing::Values(FailureCase{"80,fpga=3,boot-request=ignored,app-s=ignored",
                                  "Boot loader isn't running. "},
                      FailureCase{"80,fpga=3,isp-man=0x1F", "Flash-ROM manufacturer 0x1F is unknown\n"},
                      FailureCase{"80,fpga=3,isp-dev=0x123456", "Flash-ROM device 0x123456 is unknown\n"},
                      FailureCase{"80,fpga=3,isp-record=refuse", "Can't program Flash: "},
                      FailureCase{"80,fpga=3,app-start=fails", "Can't start application: "},
                      FailureCase{"80,fpga=3,bl-after-start=stays",
                                  "Can't start application (boot loader is still running). "}));

}  // namespace
