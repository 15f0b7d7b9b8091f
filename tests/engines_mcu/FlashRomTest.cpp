// Flash-ROM programming: boot-loader entry, blocks split into records,
// refused records, the application start, and the whole stage inside an
// update with each of its failure messages.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/engines_storage/EngineSupport.h"

namespace {

using namespace enginetest;

// The boot loader is entered by a reset with the boot request; an
// application that ignores it is asked with "S"; after three resets, nine
// requests and thirty probes the entry gives up.
struct EntryCase {
    const char* spec;
    int result;
    size_t resets;     // reset pulses with the boot request
    const char* sent;  // what went to the card ("U+" for "U" probes up to the boot loader's start)
};

class BootEntry : public ::testing::TestWithParam<EntryCase> {};

TEST_P(BootEntry, ResetsRequestsAndProbes) {
    const EntryCase& k = GetParam();
    OneCard c(k.spec);
    EXPECT_EQ(c.pci.doEnableBootrom(), k.result);
    const std::vector<uint32_t> cfg = c.writes(kCfg);
    EXPECT_EQ(static_cast<size_t>(std::count(cfg.begin(), cfg.end(), 0x05u)), k.resets);
    const std::string sent = c.sent();
    if (std::string(k.sent) == "USU+") {
        // More than one probe at the part's slowest start-up.
        EXPECT_EQ(sent.substr(0, 3), "USU");
        EXPECT_EQ(sent.find_first_not_of('U', 2), std::string::npos) << sent;
    } else if (*k.sent) {
        EXPECT_EQ(sent, k.sent);
    } else {
        EXPECT_EQ(Count(sent, "S"), 9u);
        EXPECT_EQ(Count(sent, "U"), 30u);
        EXPECT_EQ(sent.size(), 39u);
    }
    EXPECT_EQ(c.pci.Com_setTimeout(50), 50);
}

INSTANTIATE_TEST_SUITE_P(Cards, BootEntry,
                         ::testing::Values(EntryCase{"80", 1, 1, "U"},
                                           EntryCase{"80,boot-request=ignored", 1, 1, "USU+"},
                                           EntryCase{"80,boot-request=ignored,app-s=ignored", 0, 3, ""},
                                           EntryCase{"80,mcu=silent", 0, 3, ""}));

// ---- The flash-ROM stage inside an update ---------------------------------

class FlashRomStage : public ::testing::TestWithParam<std::string> {};

TEST_P(FlashRomStage, ProgramsEverySegmentAndItsTrailerThenStartsTheNewFirmware) {
    OneCard c("80,fw=1.00,fpga=3", GetParam());
    c.rack.setTracing(false);
    const std::vector<tcf::SegmentData> segments = Firmware("2.05", 3, 65536);
    const Bytes file = Build(tcf::FileContent{80, FpgaImage(3, 4096), {}, {}, segments});
    ASSERT_EQ(c.update(UpdateFile(file), "VJX PCI S"), 1) << c.log.text();
    EXPECT_TRUE(Has(c.log.text(), "Programming VJX PCI S card was successful.\nFirmware version: 2.05"))
        << c.log.text();

    // One dot per KiB of each segment's data on the programming line, then
    // the dot before the start.
    size_t dots = 1;
    for (const tcf::SegmentData& s : segments) dots += (s.data.size() + 1023) / 1024;
    EXPECT_TRUE(Has(c.log.text(), "\nProgramming flash ROM..." + std::string(dots, '.') + "\n"))
        << c.log.text();

    // The flash ROM's content (each segment and its trailer) is compared
    // with the file end to end.
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
    c.rack.setTracing(false);
    UpdateFile file(Build(tcf::FileContent{80, FpgaImage(3, 4096), {}, {}, Firmware("2.05", 3, 16384)}));
    EXPECT_EQ(c.update(file, "VJX PCI S"), 0);
    EXPECT_TRUE(Has(c.log.text(),
                    "------------------- Error -------------------\n" + std::string(GetParam().message)))
        << c.log.text();
    EXPECT_EQ(Count(c.log.text(), "- Error -"), 1u) << c.log.text();
    EXPECT_FALSE(Has(c.log.text(), "successful")) << c.log.text();
}

// The stage's other failures (an unknown device, a refused record, ...) run
// end to end with the command-line program.
INSTANTIATE_TEST_SUITE_P(Messages, FlashRomFailure,
                         ::testing::Values(FailureCase{"80,fpga=3,app-start=fails",
                                                       "Can't start application: "}));

}  // namespace
