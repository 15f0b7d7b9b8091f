// What the composed card does on its wires that the host's engines do not
// show by succeeding: the PCI 9056's EEPROM data pin, the rules the parts
// impose. (The application's FPGA reload, one path for every card: the
// PCIe-core cards' tests; the PEX 8111's indirect register window: the
// Windows program's update of a card in slow mode.)
#include <gtest/gtest.h>

#include "SimBus.h"
#include "sim/Clock.h"
#include "tests/support/SimRack.h"

namespace simtest {
namespace {

constexpr unsigned kVersion = 0x7C;

// The PCI 9056 shows the EEPROM's data on its one data pin only with the
// input enable (bit 31) set: without it the pin floats. Selected and idle,
// the EEPROM drives its ready status (high) on that pin. Zeros clocked with
// the chip driving the pin low fight it: the EEPROM takes in anyone's guess,
// stray start bits among them, and the read that follows goes astray. Before
// that fight, the same zeros would have been ignored and the read returned
// the first word. (The words themselves through CNTRL: the host's
// configuration EEPROM stage on both bridge chips.)
TEST(CardWires, Pci9056DataPinFloatsWithoutInputEnableAndDrivenAgainstTheEepromTakesInGarbage) {
    testsupport::SimRack sr({"84"});
    Bus bus(sr.rack(), 1);
    MicrowirePins pins(bus);
    devtest::MicrowireDriver<MicrowirePins> host(pins);  // input enable only to read
    std::vector<uint16_t> words;
    ASSERT_TRUE(host.read(0, words, 2));
    EXPECT_EQ(words, (std::vector<uint16_t>{0x9056, 0x10B5}));
    pins.inputEnable = false;
    host.read(0, words, 2);
    EXPECT_NE(words, (std::vector<uint16_t>{0x9056, 0x10B5})) << "read without the input enable";
    pins.inputEnable = true;
    host.setCs(true);
    host.send(0, 16);    // zeros against the ready status
    host.command(2, 0);  // READ word 0
    EXPECT_NE(host.readBits(17), 0x9056u) << "the zeros were taken as zeros";
}

TEST(CardWires, VersionComesFromTheFpgaAndAnUnconfiguredFpgaAnswersNothing) {
    testsupport::SimRack sr({"80,fpga=7", "blank-9030"});
    Bus card(sr.rack(), 1), blank(sr.rack(), 2);
    EXPECT_EQ(card.read8(2, kVersion), 7);
    for (unsigned offset : {0x44u, 0x7Cu, 0x88u, 0x94u, 0xA4u})
        EXPECT_EQ(blank.read8(2, offset), 0xFF) << offset;
    blank.write8(2, 0xA0, 5);  // ignored, nothing to write to
    EXPECT_EQ(blank.read8(2, 0xA0), 0xFF);
}

// Every rule a part imposes, broken on purpose by a scripted host: the part
// refuses as the real one would, and the trace says which rule was broken.
struct RuleCase {
    const char* name;
    const char* card;
    const char* rule;
    // Breaks the rule; true when the part then refused as it should.
    bool (*breakIt)(Bus& bus, FpgaLines& lines);
};

void advanceUs(uint64_t us) {
    sim::virtualClock().advance(us);
}

void setCfg(Bus& bus, uint8_t value, uint64_t thenUs) {
    bus.write8(2, 0x44, value);
    advanceUs(thenUs);
}

sim::McuMode mcuMode(Bus& bus) {
    return bus.rack().card(bus.card()).mcu().mode();
}

// One EECTL byte through the PEX 8111, waiting for its shift to end.
uint8_t eectl(Bus& bus, uint32_t command) {
    bus.write32(0, 0x1004, command, Kind::Bridge);
    advanceUs(100);
    return uint8_t(bus.read32(0, 0x1004, Kind::Bridge) >> 8);
}

const RuleCase kRuleCases[] = {
    {"HoldShorterThanTheFpgaResetMinimum", "80,fpga=9", "fpga-hold-pulse",
     [](Bus& bus, FpgaLines& lines) {
         lines.drive(8, false);
         lines.drive(5, true);
         lines.drive(5, false);  // at once
         lines.drive(8, true);
         advanceUs(1000000);
         return bus.read8(2, kVersion) == 0xFF;  // the load failed
     }},
    {"DeviceTakenBeforeTheFpgaLetGo", "80,fpga=9", "fpga-hold-settle",
     [](Bus& bus, FpgaLines&) {
         // One GPIOC write: line 8 output low, line 5 output high and line
         // 3 output high together, no time for the FPGA to let go.
         const uint32_t gpioc = bus.read32(0, 0x54);
         bus.write32(0, 0x54, (gpioc & ~(1u << 26)) | 1u << 25 | 7u << 15 | 7u << 9);
         return bus.read8(2, kVersion) == 0xFF;
     }},
    {"DeviceDrivenWhileTheFpgaRuns", "80,epcs=0x10,fpga=9", "epcs-contention",
     [](Bus& bus, FpgaLines& lines) {
         lines.drive(0, true);
         lines.drive(2, true);
         lines.drive(3, true);
         return lines.id() == 0xFF && bus.read8(2, kVersion) == 9;  // unreachable, FPGA runs on
     }},
    {"DeviceLineLeftDrivenAtTheRelease", "80,fpga=9", "epcs-contention",
     [](Bus& bus, FpgaLines& lines) {
         lines.holdFpga();
         lines.release(0);
         lines.release(3);
         lines.drive(5, false);  // line 2 still driven: the load reads garbage
         lines.drive(8, true);
         advanceUs(1000000);
         return bus.read8(2, kVersion) == 0xFF;
     }},
    {"DeviceLineDrivenBeforeTheLoadEnded", "80,fpga=9", "epcs-contention",
     [](Bus& bus, FpgaLines& lines) {
         lines.holdFpga();
         lines.releaseFpga();
         lines.drive(2, false);
         advanceUs(1000000);
         return bus.read8(2, kVersion) == 0xFF;
     }},
    {"EpcsCommandDuringItsErase", "80,epcs=0x12", "epcs-busy",
     [](Bus&, FpgaLines& lines) {
         lines.holdFpga();
         lines.simple(0x06);
         lines.simple(0xC7);
         return lines.id() == 0xFF;
     }},
    {"EepromReadDuringItsWriteCycle", "84,pcie-eeprom=old", "eeprom25-busy",
     [](Bus& bus, FpgaLines&) {
         // WREN; WRITE 0x0000 0x5A; chip select off starts the write cycle;
         // READ 0x0000 at once.
         eectl(bus, 0x50006);
         eectl(bus, 0);
         for (uint32_t b : {0x02u, 0x00u, 0x00u, 0x5Au}) eectl(bus, 0x50000 | b);
         eectl(bus, 0);
         for (uint32_t b : {0x03u, 0x00u, 0x00u}) eectl(bus, 0x50000 | b);
         return eectl(bus, 0x60000) == 0xFF;
     }},
    {"MailboxUsedWithoutTrcon", "80", "mailbox-off",
     [](Bus& bus, FpgaLines&) {
         bus.write8(2, 0x44, 0x08);  // CFG alone
         const uint8_t rptr = bus.read8(2, 0x94);
         bus.write8(2, 0xA0, 1);
         bus.write8(2, 0xA4, 'R');
         bus.write8(2, 0x98, 1);
         bus.write8(2, 0xB0, 0);
         advanceUs(100000);
         return bus.read8(2, 0x94) == rptr;  // no answer
     }},
    {"ResetPulseShorterThanTwoMachineCycles", "80,fw=2.01", "mcu-reset-pulse",
     [](Bus& bus, FpgaLines&) {
         setCfg(bus, 0x05, 0);
         setCfg(bus, 0x04, 0);
         setCfg(bus, 0x00, 300000);
         return mcuMode(bus) == sim::McuMode::Application;  // not reset: no boot loader
     }},
    {"BootRequestDroppedRightAfterTheReset", "80,fw=2.01", "mcu-boot-request-hold",
     [](Bus& bus, FpgaLines&) {
         setCfg(bus, 0x05, 50000);
         setCfg(bus, 0x04, 100);
         setCfg(bus, 0x00, 300000);
         return mcuMode(bus) == sim::McuMode::Application;
     }},
    {"ByteSentBeforeTheMicrocontrollerStarted", "80,fw=2.01", "mcu-startup",
     [](Bus& bus, FpgaLines&) {
         setCfg(bus, 0x01, 50000);
         setCfg(bus, 0x00, 0);
         const uint8_t rptr = bus.read8(2, 0x94);
         sendToMcu(bus, "R");
         advanceUs(300000);
         return bus.read8(2, 0x94) == rptr;  // the "R" was lost
     }},
    {"ProgrammingRecordAcrossAFlashPage", "80", "isp-page-boundary",
     [](Bus& bus, FpgaLines&) {
         setCfg(bus, 0x05, 50000);  // reset into the boot loader
         setCfg(bus, 0x04, 2000);
         setCfg(bus, 0x00, 300000);
         sendToMcu(bus, "U");  // autobaud
         advanceUs(10000);
         sendToMcu(bus, ":02C07F00123479");  // 0x12 at 0xC07F, 0x34 past the page's end
         advanceUs(100000);
         bus.read8(2, 0x94);  // the card catches up with the time
         const sim::NvRegion& flash = bus.rack().card(bus.card()).mcuFlashBytes();
         return flash.at(0xC07F) == 0x12 && flash.at(0xC000) == 0x34 && flash.at(0xC080) == 0xFF;
     }},
};

class PartRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(PartRules, ABrokenRuleIsRefusedAndNamedInTheTrace) {
    const RuleCase& c = GetParam();
    testsupport::SimRack sr({c.card}, "typical");
    advanceUs(sr.rack().timing().fpgaLoadUs(kWholeEpcs4));  // the load after power-up
    Bus bus(sr.rack(), 1);
    FpgaLines lines(bus);
    EXPECT_TRUE(c.breakIt(bus, lines)) << "the part took what it must refuse";
    const std::vector<std::string> broken = sr.takeBreaches();
    ASSERT_FALSE(broken.empty()) << "no rule broken";
    EXPECT_EQ(broken[0].rfind("! ", 0), 0u) << broken[0];
    EXPECT_NE(broken[0].find(std::string(" card1 ") + c.rule + " "), std::string::npos) << broken[0];
}

INSTANTIATE_TEST_SUITE_P(Rules, PartRules, ::testing::ValuesIn(kRuleCases),
                         [](const ::testing::TestParamInfo<RuleCase>& info) { return info.param.name; });

}  // namespace
}  // namespace simtest
