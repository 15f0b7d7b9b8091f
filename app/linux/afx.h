// Desktop-framework shim for the Linux program: the few string, file, window
// and timing classes the shared controller, card object and engines are
// written against, built on the standard library and POSIX.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "../afxstring.h"

struct CFileStatus {
    int64_t m_size = 0;
};

class CFile {
public:
    // Open-mode bits of this shim. All others are ignored, shareDenyWrite
    // among them (a stream cannot deny others).
    enum : unsigned {
        modeTruncate = 0x02,
        modeWrite = 0x04,
        modeRead = 0x08,
        typeBinary = 0x10,
        shareDenyWrite = 0x20
    };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile() = default;

    int Open(const char* path, unsigned mode);
    // All or nothing: answers count when every byte was read, else 0.
    unsigned Read(void* buffer, unsigned count);
    void Write(const void* buffer, unsigned count);
    void Seek(int64_t offset, int origin);
    int64_t GetPosition();
    void SeekToBegin() { Seek(0, 0); }
    void Close();
    static int GetStatus(const char* path, CFileStatus& status);

private:
    std::fstream m_stream;
};

class CWnd {
public:
    virtual ~CWnd() = default;
    void SetWindowText(const char* text) { m_text = text ? text : ""; }
    void GetWindowText(CString& out) const { out = m_text; }
    // The Linux form of a dialog's cancel: leave at once with status 2.
    [[noreturn]] void OnCancel();

protected:
    CString m_text;
};

class CEdit : public CWnd {};
class CButton : public CWnd {};
class CDialog : public CWnd {
public:
    virtual int OnInitDialog() { return 1; }
};

class CComboBox : public CWnd {
public:
    void ResetContent() { m_items.clear(); }
    void AddString(const char* text) { m_items.emplace_back(text); }
    int GetCurSel() const { return m_sel; }
    void SetCurSel(int sel) { m_sel = sel; }
    void GetWindowText(CString&) const {}
    int GetCount() const { return static_cast<int>(m_items.size()); }
    const CString& GetItem(int i) const { return m_items.at(static_cast<size_t>(i)); }

private:
    std::vector<CString> m_items;
    int m_sel = 0;
};

// Timing. Defined in a separate translation unit so that a test program can
// link its own virtual clock instead.
void Sleep(unsigned ms);
unsigned long GetTickCount();
// Held by each command that polls; the Windows program raises its timer
// resolution with it. Linux sleeps are fine-grained already (the clock
// sets the least timer slack at start).
class CFineTimer {
public:
    CFineTimer() {}
    ~CFineTimer() {}
    CFineTimer(const CFineTimer&) = delete;
    CFineTimer& operator=(const CFineTimer&) = delete;
};

void MessageBeep(unsigned type);
int MessageBox(const char* text, const char* caption, unsigned type);
int AfxMessageBox(const char* text, unsigned type, unsigned helpId);
void pumpMessage();
