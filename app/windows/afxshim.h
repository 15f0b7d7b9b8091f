// Our own framework layer over Win32 for the Windows program: the same class
// names as the Linux shim (linux/afx.h), with real windows behind them. Only
// what the controller, the card object and the engines use, plus what the
// dialog shell needs (application object, modal dialog with control binding,
// file dialog).
//
// The header does not include <windows.h>: the shared code defines its own
// DWORD and must not see the platform's macros. Window and icon handles are
// the platform's own (STRICT) handle types, declared here incomplete.
// afxshim.cpp implements it over Win32, afxcommon.cpp the parts that need no
// window; a native build of the Windows paths (VJX_WINDOWS_VARIANT) links a
// scripted framework in place of afxshim.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "../afxstring.h"

struct HWND__;
typedef HWND__* HWND;
struct HICON__;
typedef HICON__* HICON;
struct HMENU__;
typedef HMENU__* HMENU;

// Command identifiers and message-box answers of the platform.
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };
// Menu item kinds, system-command identifiers and file-dialog flags.
enum : unsigned { MF_STRING = 0x0000, MF_SEPARATOR = 0x0800 };
enum : unsigned { SC_ID_MASK = 0xFFF0 };
enum : unsigned { OFN_HIDEREADONLY = 0x0004 };

class CFile {
public:
    // Open flags as the platform's framework numbers them.
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,
        typeBinary = 0x8000,
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile();

    // Non-zero when the file is open. The share flags are enforced: with
    // shareDenyWrite nobody can write the file while it is open here.
    int Open(const char* path, unsigned flags);
    // All or nothing, as the shared code relies on: answers count when every
    // byte was read, 0 after a short read (the position is then undefined).
    unsigned Read(void* buffer, unsigned count);
    void Write(const void* buffer, unsigned count);
    // Origin 0 from the beginning, 1 from the current position, 2 from the
    // end; answers the new position, -1 when the move failed.
    int64_t Seek(int64_t offset, int origin);
    int64_t GetPosition();
    void SeekToBegin() { Seek(0, begin); }
    void Close();

private:
    std::FILE* m_file = nullptr;
};

class CMenu {
public:
    explicit CMenu(HMENU menu = nullptr) : m_hMenu(menu) {}
    // Appends an item (MF_STRING with id and text) or a separator.
    int AppendMenu(unsigned flags, uintptr_t id = 0, const char* text = nullptr);
    HMENU m_hMenu;
};

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    HWND GetSafeHwnd() const { return m_hWnd; }
    void SetWindowText(const char* text);
    void GetWindowText(CString& out) const;
    int GetWindowTextLength() const;
    // Enables (non-zero) or disables the window; answers non-zero when it
    // was disabled before.
    int EnableWindow(int enable);
    int IsWindowEnabled() const;
    int IsWindowVisible() const;
    // A message box owned by this window; caption null gives the
    // application's title. Answers the button chosen (IDYES, ...).
    int MessageBox(const char* text, const char* caption = nullptr, unsigned type = 0);
    void SetDlgItemText(int id, const char* text);
    // The window's system menu (its copy made on first use).
    CMenu GetSystemMenu() const;
    void SetIcon(HICON icon, int big);
    int IsIconic() const;
    // Paints the icon centred in the client area (the minimised dialog).
    void PaintIconCentred(HICON icon);
    // While this window holds the end of the session back, the system shows
    // the user who logs off or shuts down this reason; destroying it lets
    // the session end freely again. Non-zero on success.
    int ShutdownBlockReasonCreate(const char* reason);
    int ShutdownBlockReasonDestroy();

    HWND m_hWnd = nullptr;
};

class CButton : public CWnd {};

class CEdit : public CWnd {
public:
    // Selects characters start to end (EM_SETSEL).
    void SetSel(int start, int end);
    // Replaces the selection (EM_REPLACESEL); canUndo 0 keeps no undo.
    void ReplaceSel(const char* text, int canUndo = 0);
    // Scrolls the caret into view (EM_SCROLLCARET).
    void ScrollCaret();
    // Most characters the control takes; 0 for the platform's largest.
    void SetLimitText(unsigned limit);
};

class CComboBox : public CWnd {
public:
    void ResetContent();
    int AddString(const char* text);
    int GetCount() const;
    // The selected position, -1 (CB_ERR) when nothing is selected.
    int GetCurSel() const;
    // Selecting a position that is not in the list selects nothing.
    int SetCurSel(int sel);
    void GetLBText(int index, CString& out) const;
};

// Binding of dialog members to controls: DDX_Control attaches a member to
// the dialog's control with that identifier.
class CDialog;
class CDataExchange {
public:
    explicit CDataExchange(CDialog* dialog) : m_dialog(dialog) {}
    CDialog* m_dialog;
};
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

class CDialog : public CWnd {
public:
    explicit CDialog(unsigned templateId = 0, CWnd* parent = nullptr)
        : m_templateId(templateId), m_parent(parent) {}

    // Runs the dialog modally; answers the code EndDialog gave, -1 when the
    // template could not be made into a window.
    intptr_t DoModal();
    // Binds the controls (DoDataExchange) and answers 1: the focus goes to
    // the first control.
    virtual int OnInitDialog();
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    void EndDialog(int result);
    HWND GetDlgItem(int id) const;

protected:
    virtual void DoDataExchange(CDataExchange*) {}
    // The message map. A command (button id and notification code); the
    // framework's default ends the dialog on IDOK and IDCANCEL. True when
    // handled.
    virtual bool OnCommand(unsigned id, unsigned code);
    // A system command; false lets the platform handle it.
    virtual bool OnSysCommand(unsigned id, intptr_t lParam);
    // Painting; false paints the default way.
    virtual bool OnPaint() { return false; }
    // The icon dragged for the minimised window; null for the default.
    virtual HICON OnQueryDragIcon() { return nullptr; }
    // The session is about to end (log off, restart, shut down, an update
    // of the system): true lets it end, false asks the system to wait.
    virtual bool OnQueryEndSession() { return true; }

    unsigned m_templateId;
    CWnd* m_parent;

    friend struct DialogAccess;
};

// The open-file dialog: filter in the framework's form ("name|pattern|...||").
class CFileDialog {
public:
    CFileDialog(int openFileDialog, const char* defaultExt, const char* fileName, unsigned flags,
                const char* filter, CWnd* parent = nullptr);
    virtual ~CFileDialog() = default;
    intptr_t DoModal();  // IDOK when the user chose a file
    CString GetPathName() const { return m_path; }

    // The filter as the platform's dialog takes it: pairs of NUL-terminated
    // texts, the list ended by an empty text.
    const std::string& PlatformFilter() const { return m_platformFilter; }
    static std::string ToPlatformFilter(const char* filter);

protected:
    int m_open;
    CString m_defaultExt;
    CString m_fileName;
    unsigned m_flags;
    std::string m_platformFilter;
    CWnd* m_parent;
    CString m_path;
};

// The application: one object; the program's entry calls InitInstance and
// ends when it answers.
class CWinApp {
public:
    explicit CWinApp(const char* appName);
    virtual ~CWinApp();
    virtual int InitInstance() { return 0; }
    const char* m_pszAppName;
    CWnd* m_pMainWnd = nullptr;
};
CWinApp* AfxGetApp();
// Resources of the program: a string (non-zero when it exists) and an icon.
int AfxLoadString(unsigned id, CString& out);
HICON AfxLoadIcon(unsigned id);

// An application-modal message box with the application's title; answers
// the button chosen.
int AfxMessageBox(const char* text, unsigned type = 0, unsigned helpId = 0);
// Dispatches the window messages waiting in the thread's queue.
void pumpMessage();

// The system timer at 1 ms for as long as the object lives. At the default
// resolution every Sleep lasts at least one whole tick (15.625 ms), so the
// engines' 1 ms polls would take many times longer; each command that
// polls the card holds one.
class CFineTimer {
public:
    CFineTimer();
    ~CFineTimer();
    CFineTimer(const CFineTimer&) = delete;
    CFineTimer& operator=(const CFineTimer&) = delete;

private:
    bool m_held;
};

#if defined(_WIN32)
// The platform's own timing and beep.
extern "C" __declspec(dllimport) void __stdcall Sleep(unsigned long ms);
extern "C" __declspec(dllimport) unsigned long __stdcall GetTickCount(void);
extern "C" __declspec(dllimport) int __stdcall MessageBeep(unsigned int type);
#else
// The native test build: the clock of the tests and the scripted beep.
void Sleep(unsigned ms);
unsigned long GetTickCount();
int MessageBeep(unsigned type);
#endif
