// The controller's card list and flash command against a scripted card
// object: what the log shows, which cards are opened and closed, and when
// the programming engines run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "FakeCard.h"
#include "app/CardNames.h"
#include "app/VJXFlashDlg.h"

namespace {

using Calls = std::vector<std::string>;

const std::string kDash = "---------------------------------------------";
const std::string kErrorTop = "------------------- Error -------------------";

std::string errorBox(const std::string& lines) {
    return "\n" + kErrorTop + lines + "\n" + kDash;
}
std::string plainBox(const std::string& lines) {
    return "\n" + kDash + lines + "\n" + kDash;
}

fake::Card card(int code, const std::string& desc) {
    fake::Card c;
    c.model = fake::modelOfCode(code);
    c.desc = desc;
    return c;
}

// An unprogrammed card: its subsystem ID names no model.
fake::Card unknownCard() {
    return card(-1, "(Unknown)");
}

class Controller : public ::testing::Test {
protected:
    void SetUp() override {
        fake::script = fake::Script{};
        m_out = std::tmpfile();
        ASSERT_NE(m_out, nullptr);
        char dir[] = "/tmp/vjxctlXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
    }
    void TearDown() override {
        std::fclose(m_out);
        for (const std::string& f : m_files) unlink(f.c_str());
        rmdir(m_dir.c_str());
    }

    CVJXFlashDlg& dialog() {
        if (!m_dialog) m_dialog = std::make_unique<CVJXFlashDlg>(m_out);
        return *m_dialog;
    }

    // Everything logged since the last call.
    std::string takeLog() {
        std::fflush(m_out);
        std::string text;
        std::rewind(m_out);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_out)) > 0) text.append(buffer, n);
        std::rewind(m_out);
        (void)ftruncate(fileno(m_out), 0);
        return text;
    }

    // An update file whose header names module code `code`.
    std::string updateFile(int code) {
        std::string path = m_dir + "/card " + std::to_string(code) + ".tcf";
        std::vector<unsigned char> bytes(512, 0);
        bytes[24] = static_cast<unsigned char>(code);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        m_files.push_back(path);
        return path;
    }

    // The silent start-up list; the log and the call record start afresh.
    void startUp() {
        dialog().ListVjxBoards(0);
        takeLog();
        fake::script.calls.clear();
    }

    // What main does for "-flash n file" after the start-up.
    void flashOnly(unsigned n, const std::string& file) {
        dialog().CardList().SetCurSel(static_cast<int>(n - 1u));
        dialog().FileName().SetWindowText(file.c_str());
        dialog().OnFlash();
    }

    void flash(unsigned n, const std::string& file) {
        startUp();
        flashOnly(n, file);
    }

    std::FILE* m_out = nullptr;
    std::string m_dir;
    std::vector<std::string> m_files;
    std::unique_ptr<CVJXFlashDlg> m_dialog;
};

// ---- Card list ------------------------------------------------------------

TEST_F(Controller, UnknownFirstCardIsLeftOutAndTheNumbersCloseUp) {
    fake::script.cards = {unknownCard(), card(0x54, "VJX PCIe K"), card(0x5E, "VJX PCI K")};
    fake::script.cards[1].firmware = "9.14";
    EXPECT_EQ(dialog().ListVjxBoards(1), 1);
    EXPECT_EQ(takeLog(),
              "\nDetecting card 1...\nDetected: VJX PCIe K card\nFirmware version: 9.14"
              "\nDetecting card 2...\nDetected: VJX PCI K card\n");
    ASSERT_EQ(dialog().CardList().GetCount(), 2);
    EXPECT_STREQ(dialog().CardList().GetItem(0), "1: VJX PCIe K");
    EXPECT_STREQ(dialog().CardList().GetItem(1), "2: VJX PCI K");
    EXPECT_EQ(dialog().GetCardNum(0), 1u);
    EXPECT_EQ(dialog().GetCardNum(1), 2u);
    EXPECT_EQ(dialog().GetCardNum(2), 0u);
    EXPECT_EQ(dialog().GetCardNum(0xFFFFFFFFu), 0u);
    EXPECT_EQ(dialog().CardCount(), 3u);
    EXPECT_EQ(dialog().SkipCount(), 1u);
    // One card open at a time, every one closed again.
    EXPECT_EQ(fake::script.calls, (Calls{"Count", "Open 0", "Close", "Open 1", "Version", "Close", "Open 2",
                                         "Version", "Close"}));
}

TEST_F(Controller, SingleCardIsListedByItsDescriptionAlone) {
    fake::script.cards = {card(0x50, "VJX PCI S")};
    fake::script.cards[0].slowMode = true;
    EXPECT_EQ(dialog().ListVjxBoards(1), 1);
    EXPECT_EQ(takeLog(),
              "\nDetecting card 1...\nUsing slow FPGA programming mode\nDetected: VJX PCI S card\n");
    ASSERT_EQ(dialog().CardList().GetCount(), 1);
    EXPECT_STREQ(dialog().CardList().GetItem(0), "VJX PCI S");
    EXPECT_EQ(dialog().CardList().GetCurSel(), 0);
}

TEST_F(Controller, CardThatFailsToOpenIsReportedAndSkipped) {
    fake::script.cards = {card(0x54, "VJX PCIe K"), card(0x5E, "VJX PCI K")};
    fake::script.cards[0].opens = false;
    fake::script.cards[1].flashUpdate = false;
    EXPECT_EQ(dialog().ListVjxBoards(1), 1);
    EXPECT_EQ(takeLog(),
              "\nCard 1: Detection failed!\nDetecting card 1...\nDetected: VJX PCI K card"
              "\nCard doesn't support flash updates\n");
    ASSERT_EQ(dialog().CardList().GetCount(), 1);
    EXPECT_STREQ(dialog().CardList().GetItem(0), "1: VJX PCI K");
    EXPECT_EQ(dialog().GetCardNum(0), 1u);
    EXPECT_EQ(fake::script.calls, (Calls{"Count", "Open 0", "Open 1", "Close"}));
}

TEST_F(Controller, OnlyUnknownCardsGiveTheNoVjxCardsBox) {
    fake::script.cards = {unknownCard()};
    EXPECT_EQ(dialog().ListVjxBoards(1), 0);
    EXPECT_EQ(takeLog(), errorBox("\nCards found, but no VJX cards!") + "\n");
    EXPECT_EQ(dialog().CardList().GetCount(), 0);
    EXPECT_EQ(dialog().CardCount(), 1u);
    EXPECT_EQ(dialog().SkipCount(), 1u);
}

TEST_F(Controller, NoCardsGiveTheNoCardsBoxWithTheDriverText) {
    EXPECT_EQ(dialog().CountVjxBoards(), 0u);
    EXPECT_EQ(takeLog(), errorBox("\nNo VJX cards found!\nbus scan found nothing"));
    EXPECT_EQ(dialog().ListVjxBoards(1), 0);
    EXPECT_EQ(takeLog(), errorBox("\nNo VJX cards found!\nbus scan found nothing") + "\n");
}

TEST_F(Controller, SilentListingFillsTheSameListAndPrintsOnlyBoxes) {
    fake::script.cards = {unknownCard(), card(0x54, "VJX PCIe K"), card(0x5E, "VJX PCI K")};
    fake::script.cards[1].opens = false;
    fake::script.cards[2].firmware = "9.14";
    EXPECT_EQ(dialog().ListVjxBoards(0), 1);
    EXPECT_EQ(takeLog(), "");
    // The firmware is asked all the same; only its answer goes unprinted.
    EXPECT_EQ(fake::script.calls,
              (Calls{"Count", "Open 0", "Close", "Open 1", "Open 2", "Version", "Close"}));
    ASSERT_EQ(dialog().CardList().GetCount(), 1);
    EXPECT_STREQ(dialog().CardList().GetItem(0), "1: VJX PCI K");
    EXPECT_EQ(dialog().GetCardNum(0), 2u);
    EXPECT_EQ(dialog().SkipCount(), 2u);

    fake::script.cards = {unknownCard()};
    EXPECT_EQ(dialog().ListVjxBoards(0), 0);
    EXPECT_EQ(takeLog(), errorBox("\nCards found, but no VJX cards!"));
}

TEST_F(Controller, DriverFailureKeepsThePreviousCounts) {
    fake::script.cards = {card(0x54, "VJX PCIe K"), card(0x5E, "VJX PCI K")};
    dialog().ListVjxBoards(0);
    fake::script.libInitStatus = 0x20000001;
    CVJXFlashDlg broken(m_out);
    EXPECT_EQ(broken.ListVjxBoards(1), 0);
    EXPECT_EQ(takeLog(), errorBox("\nFailed opening device driver\ndriver missing"));
    EXPECT_EQ(broken.CardCount(), 0u);
    EXPECT_EQ(dialog().CardCount(), 2u);
}

TEST_F(Controller, StartUpPrintsTheBannerAndListsSilently) {
    fake::script.cards = {card(0x54, "VJX PCIe K")};
    EXPECT_EQ(dialog().OnInitDialog(), 1);
    EXPECT_EQ(takeLog(), "ORVEN VJX Flash Version 5.33\n");
    EXPECT_EQ(dialog().CardList().GetCount(), 1);
}

TEST_F(Controller, StartUpWithoutUsableCardsEndsWithStatus2) {
    EXPECT_EXIT(dialog().OnInitDialog(), ::testing::ExitedWithCode(2), "");
    fake::script.cards = {unknownCard()};
    EXPECT_EXIT(dialog().OnInitDialog(), ::testing::ExitedWithCode(2), "");
}

// ---- Flash command -------------------------------------------------------

class Flash : public Controller {
protected:
    void SetUp() override {
        Controller::SetUp();
        fake::script.cards = {card(0x54, "VJX PCIe K"), card(0x5E, "VJX PCI K")};
    }
};

TEST_F(Flash, MatchingFileRunsAllThreeStagesAndCompletes) {
    std::string file = updateFile(0x5E);
    flash(2, file);
    EXPECT_EQ(takeLog(), "\nDetecting card 2...\nProgramming card 2 with file \"" + file + "\"...\n");
    EXPECT_EQ(fake::script.calls,
              (Calls{"Count", "Open 1", "ReadFileHeader", "CheckUpdateFile", "ProgramEeprom",
                     "ProgramPcieEeprom", "doFlash VJX PCI K", "Close"}));
    EXPECT_TRUE(dialog().FlashCompleted());
    EXPECT_FALSE(dialog().FlashVersionCheckFailed());

    // Completed, but the new firmware's version check failed.
    fake::script.versionCheckFailed = true;
    flash(2, file);
    EXPECT_TRUE(dialog().FlashCompleted());
    EXPECT_TRUE(dialog().FlashVersionCheckFailed());
}

TEST_F(Flash, FailedUpdateSequenceIsNotACompletedFlash) {
    fake::script.doFlash = 0;
    flash(1, updateFile(0x54));
    EXPECT_FALSE(dialog().FlashCompleted());
    EXPECT_EQ(fake::script.calls.back(), "Close");
}

TEST_F(Flash, CardNumberOutsideTheListIsRefusedBeforeAnythingOpens) {
    flash(3, updateFile(0x54));
    EXPECT_EQ(takeLog(),
              plainBox("\nThere is no card with number 3.\nPlease enter a card number fom 1 to 2.") + "\n");
    EXPECT_EQ(fake::script.calls, (Calls{"Count"}));
    EXPECT_FALSE(dialog().FlashCompleted());

    flash(0, updateFile(0x54));  // no selection: position 0xFFFFFFFF
    EXPECT_EQ(takeLog(),
              plainBox("\nThere is no card with number 0.\nPlease enter a card number fom 1 to 2.") + "\n");
}

TEST_F(Flash, CardWithoutFlashUpdateIsRefusedBeforeTheFileIsLookedAt) {
    fake::script.cards[0].flashUpdate = false;
    flash(1, "");
    EXPECT_EQ(takeLog(), "\nDetecting card 1..." + plainBox("\nCard doesn't support flash updates") + "\n");
    EXPECT_EQ(fake::script.calls, (Calls{"Count", "Open 0", "Close"}));
}

TEST_F(Flash, CardThatFailsToOpenIsReportedByNumber) {
    startUp();
    fake::script.cards[1].opens = false;
    flashOnly(2, updateFile(0x5E));
    EXPECT_EQ(takeLog(), "\nDetecting card 2...\nCard 2: Detection failed! (Can't open card!)\n");
    EXPECT_EQ(fake::script.calls, (Calls{"Count", "Open 1"}));
    EXPECT_FALSE(dialog().FlashCompleted());
}

TEST_F(Flash, EmptyFileNameIsRefusedAndTheCardClosed) {
    fake::script.cards[0].slowMode = true;
    flash(1, "");
    EXPECT_EQ(takeLog(), "\nDetecting card 1...\nUsing slow FPGA programming mode" +
                             plainBox("\nPlease enter a flash update file name") + "\n");
    EXPECT_EQ(fake::script.calls, (Calls{"Count", "Open 0", "Close"}));
}

TEST_F(Flash, MissingFileIsReportedWithItsName) {
    std::string missing = m_dir + "/no such %s file.tcf";
    flash(1, missing);
    EXPECT_EQ(takeLog(), "\nDetecting card 1..." + errorBox("\nCan't open file \"" + missing + "\"!") + "\n");
    EXPECT_EQ(fake::script.calls, (Calls{"Count", "Open 0", "Close"}));
}

TEST_F(Flash, RefusedHeaderEndsWithoutACloseLine) {
    fake::script.readHeader = 0;
    flash(1, updateFile(0x54));
    EXPECT_EQ(takeLog(), "\nDetecting card 1...");
    EXPECT_EQ(fake::script.calls, (Calls{"Count", "Open 0", "ReadFileHeader", "Close"}));
}

TEST_F(Flash, SlowModeCardIsRefusedBeforeAnyStageRuns) {
    fake::script.cards[0].slowMode = true;
    flash(1, updateFile(0x54));
    EXPECT_EQ(takeLog(), "\nDetecting card 1...\nUsing slow FPGA programming mode" +
                             errorBox("\nslow mode refused") + "\n");
    EXPECT_EQ(fake::script.calls, (Calls{"Count", "Open 0", "ReadFileHeader", "Close"}));
    EXPECT_FALSE(dialog().FlashCompleted());
}

TEST_F(Flash, FileForAnotherModelIsRefusedWithBothNames) {
    std::string file = updateFile(0x5E);
    flash(1, file);
    EXPECT_EQ(takeLog(), "\nDetecting card 1..." +
                             errorBox("\nIncompatible flash update file!\nCard is a \"VJX PCIe K\", but\n" +
                                      file + "\nis designed for a \"VJX PCI K\" card.") +
                             "\n");
    EXPECT_EQ(fake::script.calls, (Calls{"Count", "Open 0", "ReadFileHeader", "Close"}));
    EXPECT_FALSE(dialog().FlashCompleted());
}

TEST_F(Flash, UnknownCardTypeIsNeverProgrammedOnLinux) {
    startUp();
    // The card answers with an unknown model after the list was built.
    fake::script.cards[0] = unknownCard();
    fake::script.cards[0].flashUpdate = false;
    flashOnly(1, updateFile(0x54));
    EXPECT_EQ(takeLog(), "\nDetecting card 1..." + plainBox("\nThe card's type is unknown.") + "\n");
    EXPECT_EQ(fake::script.calls, (Calls{"Count", "Open 0", "ReadFileHeader", "Close"}));
    EXPECT_FALSE(dialog().FlashCompleted());
}

TEST_F(Flash, RefusedFileOrFailingEepromStageStopsTheUpdate) {
    // The whole file is checked after the "Programming" line, before the
    // first stage writes anything.
    fake::script.checkFile = 0;
    flash(1, updateFile(0x54));
    EXPECT_EQ(fake::script.calls, (Calls{"Count", "Open 0", "ReadFileHeader", "CheckUpdateFile", "Close"}));
    EXPECT_FALSE(dialog().FlashCompleted());
    EXPECT_EQ(takeLog(),
              "\nDetecting card 1...\nProgramming card 1 with file \"" + m_files.back() + "\"...\n");

    fake::script.checkFile = 1;
    fake::script.programEeprom = 0;
    flash(1, updateFile(0x54));
    EXPECT_EQ(fake::script.calls,
              (Calls{"Count", "Open 0", "ReadFileHeader", "CheckUpdateFile", "ProgramEeprom", "Close"}));
    EXPECT_FALSE(dialog().FlashCompleted());
    EXPECT_EQ(takeLog(),
              "\nDetecting card 1...\nProgramming card 1 with file \"" + m_files.back() + "\"...\n");

    fake::script.programEeprom = 1;
    fake::script.programPcieEeprom = 0;
    flash(1, updateFile(0x54));
    EXPECT_EQ(fake::script.calls, (Calls{"Count", "Open 0", "ReadFileHeader", "CheckUpdateFile",
                                         "ProgramEeprom", "ProgramPcieEeprom", "Close"}));
    std::string file = m_files.back();
    EXPECT_EQ(takeLog(), "\nDetecting card 1...\nProgramming card 1 with file \"" + file + "\"...\n");
}

TEST_F(Flash, NoCardsLeftEndsSilentlyAfterTheCountBox) {
    startUp();
    fake::script.cards.clear();
    dialog().OnFlash();
    EXPECT_EQ(takeLog(), errorBox("\nNo VJX cards found!\nbus scan found nothing"));
    EXPECT_EQ(fake::script.calls, (Calls{"Count"}));
}

// ---- Model names ---------------------------------------------------------

TEST(CardNames, EveryModuleCodeHasItsName) {
    const char* expected[] = {"VJX PCI S",  "VJX PCIe S", "VJX PCIe R",     "VJX PCIe M",
                              "VJX PCIe K", "PCIe Q",     "VJX PCI R (v2)", "VJX PCIe Z",
                              "(Unknown)",  "(Unknown)",  "VJX PCI M",      "(Unknown)",
                              "PCI Q",      "VJX PCI R",  "VJX PCI K",      "VJX PCI K (v2)"};
    for (int code = 80; code <= 95; ++code) EXPECT_STREQ(GetCardName(code), expected[code - 80]) << code;
    // The Linux program knows codes 80 to 95 only.
    for (int code : {96, 97, 98, 99, 79, 100, 0, -1, 255, 0x7FFFFFFF})
        EXPECT_STREQ(GetCardName(code), "(Unknown)");
}

}  // namespace
