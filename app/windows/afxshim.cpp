// The Windows framework layer over Win32: windows, controls, the modal
// dialog and its message map, the file dialog, message boxes, resources, the
// message pump and the program's entry.
//
// afxshim.h comes first: its enumerations name some of the values that
// <windows.h> defines as macros afterwards.
#include "afxshim.h"

#include <windows.h>
// clang-format off
#include <commdlg.h>
#include <mmsystem.h>
// clang-format on

#include <string>
#include <vector>

// The framework's member names, not the platform's A/W macros.
#undef MessageBox
#undef SetWindowText
#undef GetWindowText
#undef GetWindowTextLength
#undef AppendMenu
#undef SetDlgItemText

namespace {

CWinApp* g_app = nullptr;

const char* AppTitle() {
    return g_app && g_app->m_pszAppName ? g_app->m_pszAppName : "";
}

// The owner of application-modal boxes: the main window once it is shown.
HWND BoxOwner() {
    if (!g_app || !g_app->m_pMainWnd) return nullptr;
    HWND main = g_app->m_pMainWnd->m_hWnd;
    return main && ::IsWindowVisible(main) ? main : nullptr;
}

}  // namespace

// ---- Windows and controls -------------------------------------------------

void CWnd::SetWindowText(const char* text) {
    ::SetWindowTextA(m_hWnd, text ? text : "");
}

void CWnd::GetWindowText(CString& out) const {
    const int length = ::GetWindowTextLengthA(m_hWnd);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    const int got = ::GetWindowTextA(m_hWnd, &text[0], static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    out = text.c_str();
}

int CWnd::GetWindowTextLength() const {
    return ::GetWindowTextLengthA(m_hWnd);
}

int CWnd::EnableWindow(int enable) {
    return ::EnableWindow(m_hWnd, enable ? TRUE : FALSE);
}

int CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}

int CWnd::IsWindowVisible() const {
    return ::IsWindowVisible(m_hWnd);
}

int CWnd::MessageBox(const char* text, const char* caption, unsigned type) {
    return ::MessageBoxA(m_hWnd, text ? text : "", caption ? caption : AppTitle(), type);
}

void CWnd::SetDlgItemText(int id, const char* text) {
    ::SetDlgItemTextA(m_hWnd, id, text ? text : "");
}

CMenu CWnd::GetSystemMenu() const {
    return CMenu(::GetSystemMenu(m_hWnd, FALSE));
}

void CWnd::SetIcon(HICON icon, int big) {
    ::SendMessageA(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

int CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

void CWnd::PaintIconCentred(HICON icon) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    ::SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT rect;
    ::GetClientRect(m_hWnd, &rect);
    const int x = (rect.right - rect.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (rect.bottom - rect.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, icon);
    ::EndPaint(m_hWnd, &ps);
}

int CWnd::ShutdownBlockReasonCreate(const char* reason) {
    const std::string text = reason ? reason : "";
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    if (length > 0) ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    return ::ShutdownBlockReasonCreate(m_hWnd, wide.c_str());
}

int CWnd::ShutdownBlockReasonDestroy() {
    return ::ShutdownBlockReasonDestroy(m_hWnd);
}

int CMenu::AppendMenu(unsigned flags, uintptr_t id, const char* text) {
    return m_hMenu ? ::AppendMenuA(m_hMenu, flags, id, text) : 0;
}

void CEdit::SetSel(int start, int end) {
    ::SendMessageA(m_hWnd, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

void CEdit::ReplaceSel(const char* text, int canUndo) {
    ::SendMessageA(m_hWnd, EM_REPLACESEL, canUndo ? TRUE : FALSE, reinterpret_cast<LPARAM>(text ? text : ""));
}

void CEdit::ScrollCaret() {
    ::SendMessageA(m_hWnd, EM_SCROLLCARET, 0, 0);
}

void CEdit::SetLimitText(unsigned limit) {
    ::SendMessageA(m_hWnd, EM_SETLIMITTEXT, limit, 0);
}

void CComboBox::ResetContent() {
    ::SendMessageA(m_hWnd, CB_RESETCONTENT, 0, 0);
}

int CComboBox::AddString(const char* text) {
    return static_cast<int>(
        ::SendMessageA(m_hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text ? text : "")));
}

int CComboBox::GetCount() const {
    return static_cast<int>(::SendMessageA(m_hWnd, CB_GETCOUNT, 0, 0));
}

int CComboBox::GetCurSel() const {
    return static_cast<int>(::SendMessageA(m_hWnd, CB_GETCURSEL, 0, 0));
}

int CComboBox::SetCurSel(int sel) {
    return static_cast<int>(::SendMessageA(m_hWnd, CB_SETCURSEL, static_cast<WPARAM>(sel), 0));
}

void CComboBox::GetLBText(int index, CString& out) const {
    const LRESULT length = ::SendMessageA(m_hWnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) {
        out.Empty();
        return;
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    ::SendMessageA(m_hWnd, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text[0]));
    out = text.c_str();
}

// ---- Dialogs ----------------------------------------------------------------

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    control.m_hWnd = dx->m_dialog->GetDlgItem(id);
}

HWND CDialog::GetDlgItem(int id) const {
    return ::GetDlgItem(m_hWnd, id);
}

void CDialog::EndDialog(int result) {
    ::EndDialog(m_hWnd, result);
}

namespace {

// Dialogs come up centred over their owner (over the work area without
// one), as the platform's applications show them.
void CentreOverOwner(HWND hwnd) {
    RECT area;
    HWND owner = ::GetWindow(hwnd, GW_OWNER);
    if (!owner || !::IsWindowVisible(owner) || ::IsIconic(owner) || !::GetWindowRect(owner, &area))
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT rect;
    ::GetWindowRect(hwnd, &rect);
    const int x = area.left + ((area.right - area.left) - (rect.right - rect.left)) / 2;
    const int y = area.top + ((area.bottom - area.top) - (rect.bottom - rect.top)) / 2;
    ::SetWindowPos(hwnd, nullptr, x > 0 ? x : 0, y > 0 ? y : 0, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

// The dialog procedure: finds the dialog object (handed over with
// WM_INITDIALOG) and calls its message map.
struct DialogAccess {
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
            ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
            dialog->m_hWnd = hwnd;
            CentreOverOwner(hwnd);
            return dialog->OnInitDialog();
        }
        CDialog* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
        if (!dialog) return FALSE;
        switch (message) {
            case WM_COMMAND:
                return dialog->OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
            case WM_SYSCOMMAND:
                return dialog->OnSysCommand(static_cast<unsigned>(wParam), lParam) ? TRUE : FALSE;
            case WM_PAINT:
                return dialog->OnPaint() ? TRUE : FALSE;
            case WM_QUERYENDSESSION:
                // A dialog procedure gives its answer through DWLP_MSGRESULT.
                ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, dialog->OnQueryEndSession() ? TRUE : FALSE);
                return TRUE;
            case WM_QUERYDRAGICON:
                // Answered directly, not through DWLP_MSGRESULT.
                return reinterpret_cast<INT_PTR>(dialog->OnQueryDragIcon());
            case WM_NCDESTROY:
                dialog->m_hWnd = nullptr;
                return FALSE;
            default:
                return FALSE;
        }
    }
};

// Without a parent of its own a dialog is owned by the application's main
// window (while that is open), so it stays in front of it.
intptr_t CDialog::DoModal() {
    HWND parent = m_parent ? m_parent->m_hWnd : nullptr;
    if (!parent && g_app && g_app->m_pMainWnd && g_app->m_pMainWnd != this)
        parent = g_app->m_pMainWnd->m_hWnd;
    return ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_templateId), parent,
                             DialogAccess::Proc, reinterpret_cast<LPARAM>(this));
}

// ---- File dialog ------------------------------------------------------------

intptr_t CFileDialog::DoModal() {
    char path[MAX_PATH * 4] = {};
    if (!m_fileName.IsEmpty()) lstrcpynA(path, m_fileName, sizeof path);
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_parent ? m_parent->m_hWnd : nullptr;
    ofn.lpstrFilter = m_platformFilter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrDefExt = m_defaultExt.IsEmpty() ? nullptr : static_cast<const char*>(m_defaultExt);
    // The platform's current dialog style.
    ofn.Flags = m_flags | OFN_EXPLORER;
    const BOOL chosen = m_open ? ::GetOpenFileNameA(&ofn) : ::GetSaveFileNameA(&ofn);
    if (!chosen) return IDCANCEL;
    m_path = path;
    return IDOK;
}

// ---- Application, boxes, resources, message pump ------------------------------

CWinApp::CWinApp(const char* appName) : m_pszAppName(appName) {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() {
    return g_app;
}

int AfxMessageBox(const char* text, unsigned type, unsigned) {
    return ::MessageBoxA(BoxOwner(), text ? text : "", AppTitle(), type);
}

int AfxLoadString(unsigned id, CString& out) {
    char text[256] = {};
    const int length = ::LoadStringA(::GetModuleHandleA(nullptr), id, text, sizeof text);
    out = text;
    return length;
}

HICON AfxLoadIcon(unsigned id) {
    return ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}

void pumpMessage() {
    MSG msg;
    // Only what is waiting, taken as it is peeked: a message seen without
    // being removed (a paint, a timer) may be gone again by the time it is
    // asked for, and a GetMessage would then wait, mid-update, for the next
    // input that never comes.
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The program is asked to end: leave the request for the
            // dialog's own loop.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

CFineTimer::CFineTimer() : m_held(::timeBeginPeriod(1) == TIMERR_NOERROR) {}

CFineTimer::~CFineTimer() {
    if (m_held) ::timeEndPeriod(1);
}

// The program's entry: the one application object, made before, runs.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (!g_app) return 1;
    g_app->InitInstance();
    return 0;
}
