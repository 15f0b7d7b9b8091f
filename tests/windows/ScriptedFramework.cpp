#include "ScriptedFramework.h"

#include <memory>

namespace scripted {

namespace {

State g_state;
std::vector<std::unique_ptr<HWND__>> g_windows;
CWinApp* g_app = nullptr;

HWND__* newWindow(int id) {
    g_windows.push_back(std::make_unique<HWND__>());
    g_windows.back()->id = id;
    return g_windows.back().get();
}

int answer() {
    if (g_state.answers.empty()) return IDOK;
    const int a = g_state.answers.front();
    g_state.answers.pop_front();
    return a;
}

HWND__* child(HWND parent, int id) {
    HWND__*& c = parent->children[id];
    if (!c) c = newWindow(id);
    return c;
}

}  // namespace

State& state() {
    return g_state;
}

void reset() {
    g_state = State{};
    g_windows.clear();
}

HWND window(int id) {
    return newWindow(id);
}

int open(CDialog& dialog) {
    dialog.m_hWnd = newWindow(0);
    return dialog.OnInitDialog();
}

HWND__& control(CDialog& dialog, int id) {
    return *child(dialog.m_hWnd, id);
}

}  // namespace scripted

using scripted::g_state;

// ---- Windows and controls ----------------------------------------------------

void CWnd::SetWindowText(const char* text) {
    if (m_hWnd) m_hWnd->text = text ? text : "";
}

void CWnd::GetWindowText(CString& out) const {
    if (!m_hWnd) return out.Empty();
    if (m_hWnd->combo) {
        const int sel = m_hWnd->sel;
        out = sel >= 0 && sel < static_cast<int>(m_hWnd->items.size()) ? m_hWnd->items[sel].c_str() : "";
        return;
    }
    out = m_hWnd->text.c_str();
}

int CWnd::GetWindowTextLength() const {
    return m_hWnd ? static_cast<int>(m_hWnd->text.size()) : 0;
}

int CWnd::EnableWindow(int enable) {
    const int wasDisabled = m_hWnd && !m_hWnd->enabled;
    if (m_hWnd) m_hWnd->enabled = enable != 0;
    const std::string who = m_hWnd && m_hWnd->id ? std::to_string(m_hWnd->id) : "dialog";
    g_state.events.push_back("enable " + who + " " + (enable ? "1" : "0"));
    return wasDisabled;
}

int CWnd::IsWindowEnabled() const {
    return m_hWnd && m_hWnd->enabled;
}

int CWnd::IsWindowVisible() const {
    return m_hWnd != nullptr;
}

int CWnd::MessageBox(const char* text, const char* caption, unsigned type) {
    g_state.boxes.push_back({text ? text : "", caption ? caption : AfxGetApp()->m_pszAppName, type, true});
    return scripted::answer();
}

void CWnd::SetDlgItemText(int id, const char* text) {
    scripted::child(m_hWnd, id)->text = text ? text : "";
}

CMenu CWnd::GetSystemMenu() const {
    return CMenu(reinterpret_cast<HMENU>(m_hWnd));
}

void CWnd::SetIcon(HICON icon, int big) {
    (big ? m_hWnd->bigIcon : m_hWnd->smallIcon) = icon;
}

int CWnd::IsIconic() const {
    return m_hWnd && m_hWnd->iconic;
}

void CWnd::PaintIconCentred(HICON) {
    g_state.events.push_back("paint icon");
}

int CWnd::ShutdownBlockReasonCreate(const char* reason) {
    g_state.events.push_back(std::string("block session: ") + (reason ? reason : ""));
    return 1;
}

int CWnd::ShutdownBlockReasonDestroy() {
    g_state.events.push_back("unblock session");
    return 1;
}

int CMenu::AppendMenu(unsigned flags, uintptr_t id, const char* text) {
    HWND__* window = reinterpret_cast<HWND__*>(m_hMenu);
    window->systemMenu.push_back(flags & MF_SEPARATOR ? std::string("separator")
                                                      : std::to_string(id) + " " + (text ? text : ""));
    return 1;
}

void CEdit::SetSel(int start, int end) {
    m_hWnd->selStart = start;
    m_hWnd->selEnd = end;
}

void CEdit::ReplaceSel(const char* text, int) {
    std::string& t = m_hWnd->text;
    const size_t start = std::min(static_cast<size_t>(m_hWnd->selStart), t.size());
    const size_t end = std::max(start, std::min(static_cast<size_t>(m_hWnd->selEnd), t.size()));
    std::string add = text ? text : "";
    if (t.size() - (end - start) + add.size() > m_hWnd->limit)
        add.resize(m_hWnd->limit - (t.size() - (end - start)));
    t.replace(start, end - start, add);
    m_hWnd->selStart = m_hWnd->selEnd = static_cast<int>(start + add.size());
}

void CEdit::ScrollCaret() {}

void CEdit::SetLimitText(unsigned limit) {
    m_hWnd->limit = limit == 0 ? 0x7FFFFFFE : limit;
}

void CComboBox::ResetContent() {
    m_hWnd->items.clear();
    m_hWnd->sel = -1;
}

int CComboBox::AddString(const char* text) {
    m_hWnd->items.emplace_back(text ? text : "");
    return static_cast<int>(m_hWnd->items.size()) - 1;
}

int CComboBox::GetCount() const {
    return static_cast<int>(m_hWnd->items.size());
}

int CComboBox::GetCurSel() const {
    return m_hWnd->sel;
}

int CComboBox::SetCurSel(int sel) {
    if (sel < 0 || sel >= static_cast<int>(m_hWnd->items.size())) {
        m_hWnd->sel = -1;
        return -1;
    }
    m_hWnd->sel = sel;
    return sel;
}

void CComboBox::GetLBText(int index, CString& out) const {
    out = index >= 0 && index < GetCount() ? m_hWnd->items[index].c_str() : "";
}

// ---- Dialogs ----------------------------------------------------------------------

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    HWND__* window = scripted::child(dx->m_dialog->m_hWnd, id);
    window->combo = dynamic_cast<CComboBox*>(&control) != nullptr;
    control.m_hWnd = window;
}

HWND CDialog::GetDlgItem(int id) const {
    return scripted::child(m_hWnd, id);
}

void CDialog::EndDialog(int result) {
    m_hWnd->ended = 1 + result;
}

// A modal dialog of the scripted framework (the about box) opens,
// initialises and ends with OK; what it shows is the Wine test's.
intptr_t CDialog::DoModal() {
    scripted::open(*this);
    return IDOK;
}

// The file chooser is the Wine test's: here it is always cancelled.
intptr_t CFileDialog::DoModal() {
    return IDCANCEL;
}

// ---- Application, boxes, resources ---------------------------------------------------

CWinApp::CWinApp(const char* appName) : m_pszAppName(appName) {
    scripted::g_app = this;
}

CWinApp::~CWinApp() {
    if (scripted::g_app == this) scripted::g_app = nullptr;
}

CWinApp* AfxGetApp() {
    static CWinApp fallback("VJXFlash");
    return scripted::g_app ? scripted::g_app : &fallback;
}

int AfxMessageBox(const char* text, unsigned type, unsigned) {
    g_state.boxes.push_back({text ? text : "", AfxGetApp()->m_pszAppName, type, false});
    return scripted::answer();
}

int AfxLoadString(unsigned id, CString& out) {
    auto found = g_state.strings.find(id);
    out = found != g_state.strings.end() ? found->second.c_str() : "";
    return out.GetLength();
}

HICON AfxLoadIcon(unsigned id) {
    return reinterpret_cast<HICON>(static_cast<uintptr_t>(id));
}

// The engines' message pump has no messages to deliver here.
void pumpMessage() {}

CFineTimer::CFineTimer() : m_held(true) {
    g_state.events.push_back("timer 1 ms");
}

CFineTimer::~CFineTimer() {
    if (m_held) g_state.events.push_back("timer default");
}

int MessageBeep(unsigned type) {
    g_state.beeps.push_back(type);
    return 1;
}
