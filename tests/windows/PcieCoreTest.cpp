// PCIe-core cards (a PCI 9056 function of revision 0x80 whose PCIe interface
// is in the FPGA) in the Windows program, over the simulated kernel driver
// on a simulated rack: the configuration-flash engine on the card's SPICTL
// port against the simulated serial flash, in every timing profile, and the
// update sequence around it (firmware first, flash last, the FPGA reloaded
// through the firmware, the device tree enumerated again, the restart
// offered when that fails).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ScriptedFramework.h"
#include "card/VjxPci.h"
#include "engines/ConfigFlash.h"
#include "engines/SpiCtlPort.h"
#include "engines/SystemRestart.h"
#include "sim/Clock.h"
#include "sim/devices/FpgaBlock.h"
#include "sim/devices/Microcontroller.h"
#include "sim/kernel/InProcess.h"
#include "tcf/Tcf.h"
#include "tcf/TcfWriter.h"
#include "tests/support/SimRack.h"
#include "tests/support/UpdateFiles.h"

namespace {

using testsupport::Build;
using testsupport::Bytes;
using testsupport::FpgaImage;
using testsupport::UpdateFile;
using testsupport::WithCrc;

// ---- The card's serial-flash port as the bus shows it ------------------------------
// SPICTL (memory space 2, offset 0xC4): bit 0 clock, bit 1 data to the flash,
// bit 2 host access, bit 4 chip select (low active). The commands the host sent, rebuilt from
// the register writes in the bus trace: a command starts when chip select
// falls, takes the data bit at every rising clock edge, and ends when chip
// select rises.
constexpr uint32_t kSpiCtl = 0xC4;

struct Command {
    uint64_t timeUs = 0;  // when chip select fell
    Bytes bytes;
    uint8_t op() const { return bytes.empty() ? 0 : bytes[0]; }
    uint32_t address4() const {
        return bytes.size() < 5 ? 0xFFFFFFFF
                                : (uint32_t(bytes[1]) << 24 | uint32_t(bytes[2]) << 16 |
                                   uint32_t(bytes[3]) << 8 | bytes[4]);
    }
};

// The host's writes to the card's memory space 2 at `offset`, in the bus
// trace: (time in microseconds, value).
std::vector<std::pair<uint64_t, unsigned>> WritesTo(testsupport::SimRack& rack, uint32_t offset) {
    std::vector<std::pair<uint64_t, unsigned>> writes;
    for (const std::string& line : rack.traceLines()) {
        std::istringstream in(line);
        std::string seq, time, function, op, space, at, width, value;
        in >> seq >> time >> function >> op >> space >> at >> width >> value;
        if (op == "w" && space == "2" && std::stoul(at, nullptr, 16) == offset)
            writes.push_back({std::stoull(time), static_cast<unsigned>(std::stoul(value, nullptr, 16))});
    }
    return writes;
}

std::vector<Command> SentCommands(testsupport::SimRack& rack) {
    std::vector<Command> out;
    bool selected = false, clock = false;
    unsigned bits = 0;
    uint8_t byte = 0;
    Command current;
    for (const auto& [time, v] : WritesTo(rack, kSpiCtl)) {
        // Bit 2 gives the host the flash's pins; without it they are not its.
        const bool nowSelected = (v & 0x04) && !(v & 0x10), nowClock = (v & 0x01) != 0;
        if (nowSelected && !selected) {
            current = Command();
            current.timeUs = time;
            bits = 0;
        }
        if (nowSelected && nowClock && !clock) {
            byte = static_cast<uint8_t>(byte << 1 | ((v >> 1) & 1));
            if (++bits % 8 == 0) current.bytes.push_back(byte);
        }
        // Preparing the port gives the host the pins before it raises chip
        // select: a selection without a clock, which no part acts on.
        if (!nowSelected && selected && !current.bytes.empty()) out.push_back(current);
        selected = nowSelected;
        clock = nowClock;
    }
    return out;
}

std::vector<uint8_t> Ops(const std::vector<Command>& commands) {
    std::vector<uint8_t> ops;
    for (const Command& c : commands) ops.push_back(c.op());
    return ops;
}

size_t CountOp(const std::vector<Command>& commands, uint8_t op) {
    return std::count_if(commands.begin(), commands.end(), [op](const Command& c) { return c.op() == op; });
}

// ---- A rack with PCIe-core cards behind the simulated kernel driver ---------------

class SpiCtlOfCard : public SpiCtlRegister {
public:
    explicit SpiCtlOfCard(CVjxPci& card) : m_card(card) {}
    uint8_t Read() override { return m_card.ReadSPICTL(); }
    void Write(uint8_t value) override { m_card.WriteSPICTL(value); }

private:
    CVjxPci& m_card;
};

class CoreRack {
public:
    CoreRack(std::vector<std::string> cards, const std::string& profile = "instant")
        : m_rack(std::move(cards), profile) {
        scripted::reset();
        sim::kernel::bind(&m_rack.rack());
        m_card = std::make_unique<CVjxPci>();
        m_log.m_hWnd = scripted::window(1000);
        settle();
    }
    ~CoreRack() {
        m_card->Close();
        m_card.reset();
        sim::kernel::bind(nullptr);
    }

    // Time for the FPGAs to load from their flash (at power-up, or after a
    // reload).
    static void settle() { sim::virtualClock().advance(2000000); }

    testsupport::SimRack& sim() { return m_rack; }
    sim::FpgaBlock& fpga(unsigned number = 1) { return m_rack.rack().card(number).fpga(); }
    Bytes flash(size_t length, unsigned number = 1) {
        std::vector<uint8_t> v = fpga(number).imageView(length);
        return Bytes(v.begin(), v.end());
    }
    CVjxPci& card() { return *m_card; }
    CLogWindow& log() { return m_log; }
    std::string text() const { return m_log.m_hWnd->text; }
    void clearLog() {
        m_log.m_hWnd->text.clear();
        scripted::state().boxes.clear();
    }

    void open(unsigned index = 0) {
        ASSERT_GT(m_card->Count(), index) << m_card->getErrorString();
        ASSERT_EQ(m_card->Open(index), 1) << m_card->getErrorString();
    }

    // The engine alone, on the open card's port.
    int program(const Bytes& withCrc, int* rewritten, CString* reason = nullptr) {
        SpiCtlOfCard reg(*m_card);
        CSpiCtlPort port(reg, m_shadow);
        CString lastError;
        const int ok = configflash::Program(port, withCrc.data(), static_cast<unsigned>(withCrc.size()),
                                            rewritten, &m_log, lastError);
        if (reason) *reason = lastError;
        return ok;
    }

    // Starts a sector erase by hand and leaves it running, as a run cut
    // short during its erase does.
    void startErase() {
        SpiCtlOfCard reg(*m_card);
        CSpiCtlPort port(reg, m_shadow);
        port.Init();
        for (const Bytes& command : {Bytes{0x06}, Bytes{0xDC, 0, 0, 0, 0}}) {
            for (uint8_t b : command) port.Send(b, SpiBitOrder::MsbFirst);
            port.Deselect();
        }
    }

    // The whole update sequence on the open card.
    int update(const UpdateFile& file, const char* name) {
        CFile f;
        if (!f.Open(file.path().c_str(), CFile::modeRead | CFile::typeBinary)) return -1;
        const int ok = m_card->doFlash(f, m_log, name);
        f.Close();
        return ok;
    }

private:
    testsupport::SimRack m_rack;
    std::unique_ptr<CVjxPci> m_card;
    CLogWindow m_log;
    uint8_t m_shadow = 0;
};

std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const scripted::Box& b : scripted::state().boxes) texts.push_back(b.text);
    return texts;
}

// The line of the log (without its line break) that starts with `start`.
std::string LineOf(const std::string& log, const std::string& start) {
    const size_t at = log.find("\r\n" + start);
    if (at == std::string::npos) return "";
    const size_t end = log.find("\r\n", at + 2);
    return log.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
}

// Said in the log before the first sector is erased.
const std::string kKeepPowered =
    "Do not switch the computer off until the update has ended: without a valid FPGA image the card "
    "cannot come back on the bus.";

}  // namespace

// ---- The engine on the card's port, against the simulated flash ---------------------

class CoreFlash : public ::testing::TestWithParam<std::string> {};

// An image of 0x10001 bytes with its CRC covers two 64 KiB sectors: both
// are erased (a dot each), the pages holding data written (a dot for each
// sector's first), the rest of the second sector left blank. The same image
// again is only read, to its end, with a dot for every 64 KiB.
TEST_P(CoreFlash, WritesADifferentImageAndOnlyReadsAnEqualOne) {
    CoreRack rack({"96"}, GetParam());
    rack.open();
    rack.sim().setTracing(false);
    // Data in the second sector beyond where the new image ends, which the
    // erase must clear.
    Bytes old = WithCrc(FpgaImage(5, 0x1C000));
    int rewritten = -1;
    ASSERT_EQ(rack.program(old, &rewritten), 1) << rack.text();
    EXPECT_EQ(rewritten, 1);
    ASSERT_EQ(rack.flash(old.size()), old);

    rack.clearLog();
    const Bytes image = WithCrc(FpgaImage(7, 0x10001 - 4));
    ASSERT_EQ(rack.program(image, &rewritten), 1) << rack.text();
    EXPECT_EQ(rewritten, 1);
    EXPECT_EQ(rack.text(),
              "\r\nComparing FPGA...\r\n" + kKeepPowered + "\r\nErasing FPGA.....\r\nProgramming FPGA.....");
    const Bytes held = rack.flash(0x20100);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), held.begin()));
    for (size_t i = image.size(); i < 0x20000; ++i) ASSERT_EQ(held[i], 0xFF) << i;
    EXPECT_EQ(held[0x20000], 0xFF) << "nothing written beyond the image";
    EXPECT_TRUE(scripted::state().boxes.empty());

    rack.clearLog();
    rack.sim().setTracing(true);
    rack.sim().clearTrace();
    ASSERT_EQ(rack.program(image, &rewritten), 1) << rack.text();
    EXPECT_EQ(rewritten, 0);
    EXPECT_EQ(rack.text(), "\r\nComparing FPGA....");
    const std::vector<Command> sent = SentCommands(rack.sim());
    EXPECT_EQ(CountOp(sent, 0xDC) + CountOp(sent, 0x12) + CountOp(sent, 0x06), 0u);
    // The stored CRC, then every page up to the one holding the last byte.
    std::vector<uint32_t> reads;
    for (const Command& c : sent)
        if (c.op() == 0x0C) reads.push_back(c.address4());
    ASSERT_EQ(reads.size(), 1u + 0x101u);
    EXPECT_EQ(reads.front(), 0x10001u - 4);
    for (size_t i = 1; i < reads.size(); ++i) ASSERT_EQ(reads[i], (i - 1) * 256) << i;
    EXPECT_EQ(rack.flash(held.size()), held);

    // One byte different behind a stored CRC that matches: found by the full
    // comparison and rewritten.
    Bytes changed = image;
    changed[1500] ^= 0x10;
    rack.clearLog();
    ASSERT_EQ(rack.program(changed, &rewritten), 1) << rack.text();
    EXPECT_EQ(rewritten, 1);
    EXPECT_EQ(rack.text(),
              "\r\nComparing FPGA...\r\n" + kKeepPowered + "\r\nErasing FPGA.....\r\nProgramming FPGA.....");
    EXPECT_EQ(rack.flash(changed.size()), changed);
}

// A run cut short during a sector erase leaves the part busy, and a busy
// part ignores its identification: the next run waits for the erase to end
// (up to the part's longest cycle) before it identifies the part.
TEST_P(CoreFlash, APartLeftBusyIsWaitedForBeforeItsIdentification) {
    CoreRack rack({"96"}, GetParam());
    rack.open();
    rack.sim().setTracing(false);
    rack.startErase();
    const Bytes image = WithCrc(FpgaImage(7, 3000));
    int rewritten = -1;
    ASSERT_EQ(rack.program(image, &rewritten), 1) << rack.text();
    EXPECT_EQ(rack.flash(image.size()), image);
}

INSTANTIATE_TEST_SUITE_P(Profiles, CoreFlash, testsupport::Profiles());

// A part that stays busy beyond its longest cycle is refused by name,
// before its identification.
TEST(CoreFlashWire, APartThatStaysBusyIsRefusedBeforeItsIdentification) {
    CoreRack rack({"96,flash-erase=hang"});
    rack.open();
    rack.startErase();
    rack.sim().clearTrace();
    const uint64_t start = sim::virtualClock().nowUs();
    int rewritten = -1;
    EXPECT_EQ(rack.program(WithCrc(FpgaImage(7, 1000)), &rewritten), 0);
    EXPECT_GE(sim::virtualClock().nowUs() - start, 1150000u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"FPGA configuration flash still busy after 1150 ms\n"});
    const std::vector<uint8_t> ops = Ops(SentCommands(rack.sim()));
    EXPECT_EQ(std::count(ops.begin(), ops.end(), 0x05), static_cast<long>(ops.size()));
}

// The commands on the wire for a small image on a new card's flash: a
// status read (the part is not busy), the identification, the start-up command, register 2 read (a new card
// carries 0x02, so it is not written), the stored CRC read, then the one
// sector erased and the pages written, each after write enable, with blank
// pages skipped.
TEST(CoreFlashWire, CommandsOfAnUpdateOnANewCard) {
    CoreRack rack({"97"});
    rack.open();
    rack.sim().clearTrace();
    Bytes image = WithCrc(FpgaImage(7, 1000));  // pages at 0, 256, 512, 768
    std::fill(image.begin() + 256, image.begin() + 512, 0xFF);
    int rewritten = -1;
    ASSERT_EQ(rack.program(image, &rewritten), 1) << rack.text();
    EXPECT_EQ(rewritten, 1);

    const std::vector<Command> sent = SentCommands(rack.sim());
    std::vector<uint8_t> ops = Ops(sent);
    // Status polls depend on the part's timing; counted apart.
    const size_t polls = CountOp(sent, 0x05);
    ops.erase(std::remove(ops.begin(), ops.end(), 0x05), ops.end());
    EXPECT_EQ(ops,
              (std::vector<uint8_t>{0x9F, 0x4B, 0x65, 0x0C, 0x06, 0xDC, 0x06, 0x12, 0x06, 0x12, 0x06, 0x12}));
    EXPECT_GE(polls, 5u);
    EXPECT_EQ(sent[0].op(), 0x05);
    EXPECT_EQ(sent[2].bytes, Bytes({0x4B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent[3].bytes.size(), 6u);
    EXPECT_EQ(Bytes(sent[3].bytes.begin(), sent[3].bytes.begin() + 5), Bytes({0x65, 0, 0, 2, 0}));
    std::vector<uint32_t> pages;
    for (const Command& c : sent) {
        if (c.op() == 0x12) {
            pages.push_back(c.address4());
            const size_t length = std::min<size_t>(256, image.size() - c.address4());
            EXPECT_EQ(c.bytes.size(), 5 + length);
        }
        if (c.op() == 0xDC) {
            EXPECT_EQ(c.bytes.size(), 5u);
            EXPECT_EQ(c.address4(), 0u);
        }
    }
    EXPECT_EQ(pages, (std::vector<uint32_t>{0, 512, 768}));
    EXPECT_EQ(rack.flash(image.size()), image);
    // The port is left with host access on and the flash deselected.
    EXPECT_EQ(rack.card().ReadSPICTL() & 0x14, 0x14);
}

// A register 2 that is not 0x02 is set (write enable, then the register
// write) and the part's long register write is waited for; once it reads
// 0x02 it is left alone.
TEST_P(CoreFlash, RegisterTwoIsSetOnlyWhenItIsNot0x02) {
    CoreRack rack({"98,flash-cr1=0"}, GetParam());
    rack.open();
    rack.sim().clearTrace();
    const Bytes image = WithCrc(FpgaImage(7, 600));
    int rewritten = -1;
    ASSERT_EQ(rack.program(image, &rewritten), 1) << rack.text();
    std::vector<Command> sent = SentCommands(rack.sim());
    ASSERT_GE(sent.size(), 6u);  // status, identification, start-up, register read, ...
    EXPECT_EQ(sent[4].bytes, Bytes({0x06}));
    EXPECT_EQ(sent[5].bytes, Bytes({0x71, 0, 0, 2, 2}));
    EXPECT_EQ(rack.flash(image.size()), image) << "the erase was not lost to the register write";

    rack.clearLog();
    rack.sim().clearTrace();
    ASSERT_EQ(rack.program(image, &rewritten), 1) << rack.text();
    EXPECT_EQ(rewritten, 0);
    sent = SentCommands(rack.sim());
    EXPECT_EQ(CountOp(sent, 0x71) + CountOp(sent, 0x06), 0u);
}

// Identification 0x01 with another device: refused before anything else is
// sent, with the manufacturer and device ID in the message.
TEST(CoreFlashWire, UnknownIdentificationChangesNothing) {
    for (const char* id : {"0x01:0x6018", "0xC2:0x6017"}) {
        CoreRack rack({std::string("96,flash-id=") + id});
        rack.open();
        rack.sim().clearTrace();
        const Bytes before = rack.flash(0x8000);
        int rewritten = -1;
        EXPECT_EQ(rack.program(WithCrc(FpgaImage(7, 1000)), &rewritten), 0);
        EXPECT_EQ(rewritten, 0);
        const std::string expected = std::string(id) == "0x01:0x6018" ? "FPGA silicon ID unknown: 01/6018\n"
                                                                      : "FPGA silicon ID unknown: C2/6017\n";
        ASSERT_EQ(scripted::state().boxes.size(), 1u);
        EXPECT_EQ(scripted::state().boxes[0].text, expected);
        EXPECT_EQ(scripted::state().boxes[0].type, 0x10u);
        EXPECT_EQ(Ops(SentCommands(rack.sim())), (std::vector<uint8_t>{0x05, 0x9F}));
        EXPECT_EQ(rack.flash(before.size()), before);
    }
}

// An erase that never ends: every sector of the image is still given its
// erase and its full budget (five polls, 500 ms apart), one page is still
// written, then the run fails with the reasons, a line for each sector.
TEST_P(CoreFlash, EraseThatNeverEndsStillErasesTheOtherSectors) {
    CoreRack rack({"96,flash-erase=hang"}, GetParam());
    rack.open();
    rack.sim().clearTrace();
    const Bytes before = rack.flash(0x100);
    int rewritten = -1;
    CString reason;
    EXPECT_EQ(rack.program(WithCrc(FpgaImage(7, 0x10001 - 4)), &rewritten, &reason), 0);
    EXPECT_EQ(rewritten, 1);
    EXPECT_EQ(std::string(reason), "\nFPGA erase timeout\nFPGA erase timeout\nWrite FPGA bytes timeout");
    ASSERT_EQ(scripted::state().boxes.size(), 1u);
    EXPECT_EQ(scripted::state().boxes[0].text,
              "Can't program FPGA: \nFPGA erase timeout\nFPGA erase timeout\nWrite FPGA bytes timeout");
    EXPECT_EQ(scripted::state().boxes[0].type, 0x10u);
    EXPECT_EQ(LineOf(rack.text(), "Erasing"), "Erasing FPGA.....");
    EXPECT_EQ(LineOf(rack.text(), "Programming"), "Programming FPGA....");

    const std::vector<Command> sent = SentCommands(rack.sim());
    std::vector<const Command*> erases, writes;
    for (const Command& c : sent) {
        if (c.op() == 0xDC) erases.push_back(&c);
        if (c.op() == 0x12) writes.push_back(&c);
    }
    ASSERT_EQ(erases.size(), 2u);
    EXPECT_EQ(erases[0]->address4(), 0u);
    EXPECT_EQ(erases[1]->address4(), 0x10000u);
    EXPECT_GE(erases[1]->timeUs - erases[0]->timeUs, 2500000u);
    size_t pollsAfterFirst = 0;
    for (const Command* c = erases[0] + 1; c != erases[1]; ++c) pollsAfterFirst += c->op() == 0x05;
    EXPECT_EQ(pollsAfterFirst, 5u);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0]->address4(), 0u);
    // The busy part took none of it.
    EXPECT_EQ(rack.flash(before.size()), before);
}

// A page write that never ends stops the run at once, after ten counted
// polls and a last one.
TEST_P(CoreFlash, PageWriteThatNeverEndsStopsAtOnce) {
    CoreRack rack({"97,flash-write=hang"}, GetParam());
    rack.open();
    rack.sim().clearTrace();
    int rewritten = -1;
    EXPECT_EQ(rack.program(WithCrc(FpgaImage(7, 3000)), &rewritten), 0);
    EXPECT_EQ(rewritten, 1);
    ASSERT_EQ(scripted::state().boxes.size(), 1u);
    EXPECT_EQ(scripted::state().boxes[0].text, "Can't program FPGA: \nWrite FPGA bytes timeout");
    const std::vector<Command> sent = SentCommands(rack.sim());
    EXPECT_EQ(CountOp(sent, 0x12), 1u);
    size_t polls = 0;
    for (auto c = sent.rbegin(); c != sent.rend() && c->op() != 0x12; ++c) polls += c->op() == 0x05;
    EXPECT_EQ(polls, 11u);
}

// ---- The update sequence on a PCIe-core card ----------------------------------------------

constexpr const char* kOld = ",fw=0.90,isp=5,fpga=5";
constexpr const char* kName = "VJX PCIe M (v2)";
constexpr uint32_t kRamd = 0xA4;

// A file with an FPGA image of version 7 and a firmware that expects it.
tcf::FileContent CoreFile() {
    return tcf::FileContent{96, FpgaImage(7, 20000), {}, {}, testsupport::Firmware("2.01", 7, 0x4000)};
}

// Bytes the host put into the mailbox's window with this value.
size_t MailboxWrites(testsupport::SimRack& rack, uint8_t value) {
    const auto writes = WritesTo(rack, kRamd);
    return std::count_if(writes.begin(), writes.end(), [value](const auto& w) { return w.second == value; });
}

// (The same file again is only compared, without a reload: the Wine test.)
TEST(CoreUpdate, FirmwareFirstThenTheFlashThenTheReloadAndTheCardComesBack) {
    CoreRack rack({std::string("96") + kOld});
    rack.open();
    ASSERT_EQ(rack.card().GetBridgeType(), 4u);
    UpdateFile file(Build(CoreFile()));
    ASSERT_EQ(rack.update(file, kName), 1) << rack.text();
    const std::string log = rack.text();
    // The firmware is programmed while the FPGA still runs its old image;
    // it is compared with the FPGA that runs after the reload, which fits.
    EXPECT_EQ(BoxTexts(),
              std::vector<std::string>{
                  "Programming VJX PCIe M (v2) card was successful.\n\nFirmware version: 2.01\n"});
    EXPECT_FALSE(rack.card().VersionCheckFailed());
    const size_t rom = log.find("\r\nProgramming flash ROM");
    const size_t compare = log.find("\r\nComparing FPGA...\r\n" + kKeepPowered +
                                    "\r\nErasing FPGA....\r\nProgramming FPGA....\r\n");
    ASSERT_NE(rom, std::string::npos) << log;
    ASSERT_NE(compare, std::string::npos) << log;
    EXPECT_LT(rom, compare) << "firmware first";
    EXPECT_LT(compare, log.find("\r\nProgramming VJX PCIe M (v2) card was successful.")) << log;
    EXPECT_EQ(MailboxWrites(rack.sim(), 'T'), 1u);

    // The FPGA runs the new image, and the card answers again.
    CoreRack::settle();
    EXPECT_EQ(rack.fpga().version(sim::virtualClock().nowUs()), 7);
    rack.card().Close();
    rack.open();
    EXPECT_EQ(rack.card().ReadVERSION(), 7);
}

const char* const kSuccess = "Programming VJX PCIe M (v2) card was successful.\n\nFirmware version: 2.01\n";

const char* const kQuestion =
    "The card's PCIe core was changed and reset.\nA reboot is needed to make the card working again.\n\n"
    "Do the reboot now?";

// After the update the firmware is asked to reload the FPGA ("T" in the
// mailbox), whatever went before (the Wine test shows a firmware for
// another FPGA and a failing re-enumeration):
// - a firmware that does not answer "T": reported; the device tree is still
//   enumerated again (no question follows) and the FPGA keeps its old image;
// - a retry over a flash a run cut short had already written: the flash is
//   found equal, and the FPGA is still reloaded so that the card runs what
//   the firmware expects.
TEST(CoreUpdate, TheFpgaIsReloadedAfterTheSuccessBox) {
    const struct {
        const char* options;
        bool flashWritten;
        std::vector<std::string> boxes;
        unsigned lastBoxType;
        int runs;
    } cases[] = {
        {",app-t=ignored", false, {kSuccess, "Can't configure FPGA."}, 0x10, 5},
        {"", true, {kSuccess}, 0x40, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        CoreRack rack({std::string("96") + kOld + c.options});
        rack.open();
        const tcf::FileContent content = CoreFile();
        if (c.flashWritten) {
            int rewritten = -1;
            ASSERT_EQ(rack.program(WithCrc(content.fpga), &rewritten), 1) << rack.text();
            ASSERT_EQ(rack.card().ReadVERSION(), 5);
            rack.clearLog();
        }
        rack.sim().clearTrace();
        UpdateFile file(Build(content));
        ASSERT_EQ(rack.update(file, kName), 1) << rack.text();
        EXPECT_EQ(BoxTexts(), c.boxes);
        EXPECT_EQ(scripted::state().boxes.back().type, c.lastBoxType);
        EXPECT_EQ(rack.text().find("Erasing FPGA") == std::string::npos, c.flashWritten) << rack.text();
        EXPECT_FALSE(rack.card().VersionCheckFailed());
        EXPECT_EQ(MailboxWrites(rack.sim(), 'T'), 1u);
        EXPECT_EQ(rack.card().ReadVERSION(), c.runs);
    }
}

// After the reload, a re-enumeration that fails leaves the card without its
// resources until the machine restarts: Yes to the question restarts it,
// unless the system refuses (the user may not shut the machine down, or an
// application holds the restart back): then that is reported, and the
// process token opened for the privilege is closed again.
TEST(CoreRestart, YesRestartsTheMachineUnlessTheSystemRefuses) {
    for (const char* machine : {"user=standard", "shutdown=refused"}) {
        SCOPED_TRACE(machine);
        setenv("VJXSIM_WINDOWS", machine, 1);
        CoreRack rack({"96,reenumerate=fail"});
        rack.open();
        scripted::state().answers = {IDYES};
        ReenumerateOrOfferRestart(rack.log());
        unsetenv("VJXSIM_WINDOWS");
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kQuestion, "Shutdown of system failed"}));
        EXPECT_EQ(scripted::state().boxes.back().type, 0x10u);
        EXPECT_EQ(sim::kernel::openTokens(), 0u);
    }
}
