// The Windows dialog over the scripted framework and a scripted card
// object, for what the Wine test cannot see: the window's set-up, the
// enabling order and the session's end while a card is programmed, the card
// checks, the file filters' patterns and the hidden commands.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "FileFilter.h"
#include "ScriptedFramework.h"
#include "app/CardNames.h"
#include "app/VJXFlashDlg.h"
#include "resource.h"
#include "tests/foundation/FakeCard.h"

namespace {

using Strings = std::vector<std::string>;

const char kUpdateReason[] =
    "A VJX card is being updated. Ending the session now can leave the card unusable.";

fake::Card card(int code) {
    fake::Card c;
    c.model = fake::modelOfCode(code);
    c.desc = GetCardName(code);
    c.firmware = "9.14";
    return c;
}

// A file whose header names module code `code` (the scripted card object
// reads only the header).
class UpdateFile {
public:
    explicit UpdateFile(int code) {
        char name[] = "/tmp/vjxwinXXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        m_path = name;
        unsigned char header[256] = {};
        header[24] = static_cast<unsigned char>(code);
        EXPECT_EQ(write(fd, header, sizeof header), static_cast<ssize_t>(sizeof header));
        close(fd);
    }
    ~UpdateFile() { unlink(m_path.c_str()); }
    const char* path() const { return m_path.c_str(); }

private:
    std::string m_path;
};

// The dialog with its message map reachable, as the framework reaches it.
class TestDialog : public CVJXFlashDlg {
public:
    using CVJXFlashDlg::OnCommand;
    using CVJXFlashDlg::OnPaint;
    using CVJXFlashDlg::OnQueryDragIcon;
    using CVJXFlashDlg::OnQueryEndSession;
    using CVJXFlashDlg::OnSysCommand;
};

class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
        scripted::reset();
        fake::script = fake::Script{};
        scripted::state().strings[IDS_ABOUTBOX] = "&About VJXFlash...";
    }
    void TearDown() override { m_dialog.reset(); }

    TestDialog& open(std::vector<fake::Card> cards) {
        fake::script.cards = std::move(cards);
        m_dialog = std::make_unique<TestDialog>();
        scripted::open(*m_dialog);
        return *m_dialog;
    }
    HWND__& control(int id) { return scripted::control(*m_dialog, id); }
    std::string log() { return control(IDC_LOG).text; }
    int ended() { return m_dialog->m_hWnd->ended; }  // 1 + EndDialog's code, 0 while open
    void command(unsigned id) { m_dialog->OnCommand(id, 0); }
    scripted::State& fw() { return scripted::state(); }
    TestDialog& access() { return *m_dialog; }

    std::unique_ptr<TestDialog> m_dialog;
};

// What the Wine test cannot see of the start-up (it checks the listing, the
// about box, the file chooser, the boxes and the end without a driver).
TEST_F(Dialog, StartUpSetsUpTheWindow) {
    open({card(0x54)});
    EXPECT_EQ(m_dialog->m_hWnd->systemMenu, (Strings{"separator", "16 &About VJXFlash..."}));
    const HICON icon = AfxLoadIcon(IDR_MAINFRAME);
    EXPECT_EQ(m_dialog->m_hWnd->bigIcon, icon);
    EXPECT_EQ(m_dialog->m_hWnd->smallIcon, icon);
    EXPECT_EQ(access().OnQueryDragIcon(), icon);
    EXPECT_EQ(ended(), 0);
    EXPECT_TRUE(fw().boxes.empty());
    // The listing polls the cards: the fine timer is held around it.
    EXPECT_EQ(fw().events, (Strings{"timer 1 ms", "timer default"}));

    // Only the minimised dialog paints its icon.
    fw().events.clear();
    EXPECT_FALSE(access().OnPaint());
    m_dialog->m_hWnd->iconic = true;
    EXPECT_TRUE(access().OnPaint());
    EXPECT_EQ(fw().events, Strings{"paint icon"});
}

TEST_F(Dialog, CardsOfNoKnownModelEndTheDialog) {
    fake::Card unknown = card(0x54);
    unknown.model = vjx::platform::kUnknownModel;
    open({unknown});
    ASSERT_EQ(fw().boxes.size(), 1u);
    EXPECT_EQ(fw().boxes[0].text, "Cards found, but no VJX cards!\n");
    EXPECT_EQ(ended(), 1 + IDCANCEL);
    EXPECT_EQ(control(IDC_CARDLIST).sel, -1);  // an empty list keeps no selection
}

// Close ends the dialog; Return, "Flash all" and Close while a card is
// programmed (the dialog disabled: a beep) do not.
TEST_F(Dialog, CloseEndsTheDialogUnlessACardIsProgrammed) {
    open({card(0x54)});
    command(IDOK);
    command(IDC_FLASHALL);
    m_dialog->EnableWindow(0);
    command(IDCANCEL);
    EXPECT_EQ(ended(), 0);
    EXPECT_EQ(fw().beeps, std::vector<unsigned>{0x30});
    m_dialog->EnableWindow(1);
    command(IDCANCEL);
    EXPECT_EQ(ended(), 1 + IDCANCEL);
}

TEST_F(Dialog, FlashDisablesTheControlsInOrderAndEnablesThemAgain) {
    UpdateFile file(0x54);
    open({card(0x54)});
    fw().events.clear();
    control(IDC_FILENAME).text = file.path();
    command(IDC_FLASH);
    const Strings off = {"enable 1002 0", "enable 2 0",    "enable 1003 0",  "enable 1006 0",
                         "enable 1001 0", "enable 1004 0", "enable dialog 0"};
    Strings on = off;
    for (std::string& e : on) e.back() = '1';
    // The session's end is held back while the controls are off, and the
    // fine timer is held around the whole command.
    Strings expected = {"timer 1 ms", std::string("block session: ") + kUpdateReason};
    expected.insert(expected.end(), off.begin(), off.end());
    expected.insert(expected.end(), on.begin(), on.end());
    expected.insert(expected.end(), {"unblock session", "timer default"});
    EXPECT_EQ(fw().events, expected);
    EXPECT_NE(log().find("Programming card 1 with file \"" + std::string(file.path()) + "\"...\r\n"),
              std::string::npos);
    EXPECT_TRUE(m_dialog->FlashCompleted());
}

TEST_F(Dialog, AFailingEepromStageEnablesTheControlsAgain) {
    UpdateFile file(0x54);
    fake::script.programEeprom = 0;
    open({card(0x54)});
    control(IDC_FILENAME).text = file.path();
    command(IDC_FLASH);
    EXPECT_EQ(fw().events.end()[-3], "enable dialog 1");
    EXPECT_EQ(fw().events.end()[-2], "unblock session");
    EXPECT_TRUE(control(IDC_FLASH).enabled);
    EXPECT_TRUE(access().OnQueryEndSession());
}

// (The card-number and file-name checks are the shared controller's: the
// controller and end-to-end tests.)

// (A plain and a numbered entry's model: the Wine test's file chooser.)
TEST(FileFilter, ModelNamesOfListEntries) {
    using vjx::windows::ModelNameOfEntry;
    EXPECT_STREQ(ModelNameOfEntry("10: VJX PCIe K (v2)"), "VJX PCIe K (v2)");   // 19 characters
    EXPECT_STREQ(ModelNameOfEntry("10: VJX PCIe K (v2)x"), "VJX PCIe K (v2)");  // the 20th is not read
    EXPECT_STREQ(ModelNameOfEntry("100: PCI Q"), "");                           // no colon at 2 or 3
    EXPECT_STREQ(ModelNameOfEntry(""), "");
    EXPECT_STREQ(ModelNameOfEntry("1: "), "");
    EXPECT_STREQ(ModelNameOfEntry("2: Unprogrammed PCIe card"), "");
    // A 5V card is listed "(Unknown)": alone it names no model, numbered it
    // does.
    EXPECT_STREQ(ModelNameOfEntry("(Unknown)"), "");
    EXPECT_STREQ(ModelNameOfEntry("2: (Unknown)"), "(Unknown)");
}

// The patterns of names with characters a file name cannot carry (the Wine
// test shows a plain entry's filter and an empty list's in the chooser).
TEST(FileFilter, PatternsOfNamesAFileNameCannotCarry) {
    using vjx::windows::FileFilterForEntry;
    EXPECT_STREQ(
        FileFilterForEntry("VJX PCIe K (v2)"),
        "VJX PCIe K (v2) - Flash Update Files|VJX?PCIe?K?*v2* *.tcf|Flash Update Files (*.tcf)|*.tcf|"
        "All Files (*.*)|*.*||");
    EXPECT_STREQ(
        FileFilterForEntry("3: PCI-Q/x.y"),
        "PCI-Q/x.y - Flash Update Files|PCIQxy *.tcf|Flash Update Files (*.tcf)|*.tcf|All Files (*.*)|*.*||");
    EXPECT_EQ(CFileDialog::ToPlatformFilter("a|b"), std::string("a\0b\0\0", 5));
}

TEST_F(Dialog, ConfigureAndSendOpenTheSelectedCard) {
    open({card(0x50), card(0x54)});
    control(IDC_CARDLIST).sel = 1;
    fake::script.calls.clear();
    const size_t before = log().size();
    command(IDC_CONFIGURE);
    command(IDC_SEND);
    EXPECT_EQ(
        log().substr(before),
        "\r\nConfiguring card 2...\r\nCard 2...\r\n\r\nSerial connection to card 2...\r\nCard 2...\r\n");
    EXPECT_EQ(fake::script.calls, (Strings{"Count", "Open 1", "Close", "Count", "Open 1", "Close"}));
    EXPECT_TRUE(fw().boxes.empty());
}

TEST_F(Dialog, ConfigureReportsNoSelectionAndACardThatDoesNotOpen) {
    open({card(0x50), card(0x54)});
    control(IDC_CARDLIST).sel = -1;
    command(IDC_CONFIGURE);
    control(IDC_CARDLIST).sel = 0;
    fake::script.cards[0].opens = false;
    command(IDC_SEND);
    ASSERT_EQ(fw().boxes.size(), 2u);
    EXPECT_EQ(fw().boxes[0].text, "Please select card");
    EXPECT_EQ(fw().boxes[1].text, "Can't open card!");
    EXPECT_NE(log().find("\r\nConfiguring card 0...\r\nPlease select card\r\n"), std::string::npos);
    EXPECT_NE(log().find("\r\nSerial connection to card 1...\r\nCard 1...\r\nCan't open card!\r\n"),
              std::string::npos);
}

TEST_F(Dialog, TheLogKeepsAWholeUpdatesWorth) {
    open({card(0x54)});
    const std::string line(100, 'x');
    for (int i = 0; i < 1000; ++i) m_dialog->Log().Append(line.c_str(), 1);
    EXPECT_GT(log().size(), 100000u);
}

}  // namespace
