// The Windows side of the flash dialog: control binding, the system-menu
// about entry, the minimised icon, the file chooser, the enabling order of
// the controls, the question about a card of unknown type, and the hidden
// "Configure!" and "Send!" commands.
#include "../VJXFlashDlg.h"

#include "AboutDlg.h"
#include "FileFilter.h"
#include "MyFileDialog.h"
#include "resource.h"

namespace {

constexpr unsigned kErrorBox = 0x10;
constexpr unsigned kBeepQuestion = 0x20;
constexpr unsigned kBeepRefused = 0x30;  // the exclamation sound
constexpr unsigned kYesNoCancelQuestion = 0x23;
constexpr unsigned kButtonClicked = 0;
constexpr unsigned kAllTheText = 0;  // edit limit: the platform's largest
// Shown by the system to a user who logs off, restarts or shuts down while
// a card is being programmed.
constexpr char kUpdateRunning[] =
    "A VJX card is being updated. Ending the session now can leave the card unusable.";

}  // namespace

CVJXFlashDlg::CVJXFlashDlg(CWnd* parent) : CDialog(IDD_VJXFLASH_DIALOG, parent) {
    m_hIcon = AfxLoadIcon(IDR_MAINFRAME);
}

void CVJXFlashDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_SENDTEXT, m_sendText);
    DDX_Control(dx, IDC_SEND, m_sendButton);
    DDX_Control(dx, IDC_CONFIGURE, m_configureButton);
    DDX_Control(dx, IDCANCEL, m_closeButton);
    DDX_Control(dx, IDC_FLASH, m_flashButton);
    DDX_Control(dx, IDC_FLASHALL, m_flashAllButton);
    DDX_Control(dx, IDC_BROWSE, m_browseButton);
    DDX_Control(dx, IDC_FILENAME, m_fileName);
    DDX_Control(dx, IDC_CARDLIST, m_cardList);
    DDX_Control(dx, IDC_LOG, m_log);
    DDX_Control(dx, IDC_PROGRAM_ROM, m_programRom);
    DDX_Control(dx, IDC_PROGRAM_FPGA, m_programFpga);
}

// Start-up steps of the window itself, after the controls are bound: the
// about entry in the system menu and the icons.
void CVJXFlashDlg::SetUpWindow() {
    CString about;
    AfxLoadString(IDS_ABOUTBOX, about);
    if (!about.IsEmpty()) {
        CMenu menu = GetSystemMenu();
        menu.AppendMenu(MF_SEPARATOR);
        menu.AppendMenu(MF_STRING, IDM_ABOUTBOX, about);
    }
    SetIcon(m_hIcon, 1);
    SetIcon(m_hIcon, 0);
    // A whole update's log must fit: the control's default limit would cut
    // it off.
    m_log.SetLimitText(kAllTheText);
}

bool CVJXFlashDlg::OnCommand(unsigned id, unsigned code) {
    switch (id) {
        case IDC_BROWSE:
            if (code == kButtonClicked) OnBrowse();
            return true;
        case IDC_FLASH:
            if (code == kButtonClicked) OnFlash();
            return true;
        case IDC_CONFIGURE:
            if (code == kButtonClicked) OnConfigure();
            return true;
        case IDC_SEND:
            if (code == kButtonClicked) OnSend();
            return true;
        case IDC_FLASHALL:
        case IDC_CARDLIST:
            return true;
        case IDOK:
            // Return in the file-name field must not end the program.
            return true;
        default:
            return CDialog::OnCommand(id, code);
    }
}

bool CVJXFlashDlg::OnSysCommand(unsigned id, intptr_t lParam) {
    if ((id & SC_ID_MASK) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
        return true;
    }
    return CDialog::OnSysCommand(id, lParam);
}

bool CVJXFlashDlg::OnPaint() {
    if (!IsIconic()) return false;
    PaintIconCentred(m_hIcon);
    return true;
}

HICON CVJXFlashDlg::OnQueryDragIcon() {
    return m_hIcon;
}

void CVJXFlashDlg::EnableWindow(int enable) {
    m_programming = enable == 0;
    if (m_programming) ShutdownBlockReasonCreate(kUpdateRunning);
    m_browseButton.EnableWindow(enable);
    m_closeButton.EnableWindow(enable);
    m_flashButton.EnableWindow(enable);
    m_flashAllButton.EnableWindow(enable);
    m_fileName.EnableWindow(enable);
    m_cardList.EnableWindow(enable);
    CDialog::EnableWindow(enable);
    if (!m_programming) ShutdownBlockReasonDestroy();
}

// A log off, restart or system update would end the program, and with it
// the programming, half-way: the session waits while a card is programmed.
bool CVJXFlashDlg::OnQueryEndSession() {
    return !m_programming;
}

// "Close" is disabled while programming, but the window's close command
// (from the task bar, or a key press waiting in the queue) still arrives
// through the message pump the engines run.
void CVJXFlashDlg::OnCancel() {
    if (m_programming) {
        MessageBeep(kBeepRefused);
        return;
    }
    CDialog::OnCancel();
}

void CVJXFlashDlg::SetControlsEnabled(int enable) {
    EnableWindow(enable);
}

void CVJXFlashDlg::OnBrowse() {
    CString entry;
    m_cardList.GetWindowText(entry);
    CMyFileDialog chooser(1, "tcf", nullptr, OFN_HIDEREADONLY, vjx::windows::FileFilterForEntry(entry), this);
    if (chooser.DoModal() == IDOK) m_fileName.SetWindowText(chooser.GetPathName());
}

int CVJXFlashDlg::ConfirmUnknownCard(const char* fileModelName) {
    CString entry;
    m_cardList.GetWindowText(entry);
    MessageBeep(kBeepQuestion);
    CString text =
        "The card's type is unknown.  Be sure to load\na compatible flash update file to the card!\n\nIs \"";
    text += entry;
    text += "\" a \"";
    text += fileModelName;
    text += "\" card?";
    return MessageBox(text, nullptr, kYesNoCancelQuestion) == IDYES;
}

void CVJXFlashDlg::OnConfigure() {
    RunCardCommand(true);
}

void CVJXFlashDlg::OnSend() {
    RunCardCommand(false);
}

void CVJXFlashDlg::RunCardCommand(bool configure) {
    CFineTimer fineTimer;
    const unsigned position = static_cast<unsigned>(m_cardList.GetCurSel());
    const unsigned card = GetCardNum(position);
    const int number = static_cast<int>(position + 1);
    if (configure)
        m_log.AppendFormat("Configuring card %d...", number);
    else
        m_log.AppendFormat("Serial connection to card %d...", number);
    if (CountVjxBoards() == 0) return;
    if (m_cardCount == m_skipCount) {
        CloseLine();
        return;
    }
    if (position >= m_cardCount - m_skipCount) {
        m_log.MessageBox("Please select card", kErrorBox, 0);
        CloseLine();
        return;
    }
    m_log.AppendFormat("Card %d...", number);
    if (m_vjx.Open(card)) {
        m_vjx.Close();
        CloseLine();
        return;
    }
    m_log.MessageBox("Can't open card!", kErrorBox, 0);
    CloseLine();
}
