// The flash dialog controller, shared by the Windows dialog and the Linux
// command line: it keeps the numbered list of cards, prints their details,
// and runs the flash command on the chosen card with the named file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "../card/VjxPci.h"
#include "../platform/platform.h"
#include "LogWindow.h"

class CVJXFlashDlg : public CDialog {
public:
#if VJX_WINDOWS_PROGRAM
    explicit CVJXFlashDlg(CWnd* parent = nullptr);
#else
    // logOut: where the Linux log writes (standard output in the program).
    explicit CVJXFlashDlg(std::FILE* logOut = stdout);
#endif
    ~CVJXFlashDlg() override;
    CVJXFlashDlg(const CVJXFlashDlg&) = delete;
    CVJXFlashDlg& operator=(const CVJXFlashDlg&) = delete;

    // Start-up: banner, card count and the card list (silent on Linux).
    // Without a usable card it cancels: the Linux process ends with status
    // 2, the Windows dialog ends.
    int OnInitDialog() override;
    void ShowAboutMessage();

    // Number of cards on the bus; reports "No VJX cards found!" when none.
    unsigned CountVjxBoards();
    // Rebuilds the card list; non-zero when at least one card is listed.
    // Per-card lines are printed when verbose is non-zero (always on Windows).
    int ListVjxBoards(int verbose);
    // Card index of list position `position`, 0 when there is no such entry.
    unsigned GetCardNum(unsigned position);

    // Checks the selected card and the named file, then programs the card.
    void OnFlash();
    // Whether the last OnFlash ran the update sequence to a successful end.
    // Anything else (no such card, card or file refused, programming failed)
    // leaves it false; the Linux program turns that into its exit status.
    bool FlashCompleted() const {
        return m_flashCompleted;
    }
    // Whether that completed update's final check, the new firmware's
    // version against the FPGA's, failed.
    bool FlashVersionCheckFailed() const {
        return m_versionCheckFailed;
    }

    CComboBox& CardList() {
        return m_cardList;
    }
    CEdit& FileName() {
        return m_fileName;
    }
#if !VJX_WINDOWS_PROGRAM
    // Called with 1 when the flash command is about to write to the card
    // (the point where the Windows dialog disables its controls), with 0 when
    // it has stopped writing.
    void SetProgrammingHook(void (*hook)(int programming)) {
        m_programmingHook = hook;
    }
#endif
    CLogWindow& Log() {
        return m_log;
    }
    CVjxPci& Card() {
        return m_vjx;
    }
    uint32_t CardCount() const {
        return m_cardCount;
    }
    uint32_t SkipCount() const {
        return m_skipCount;
    }

protected:
    CVjxPci m_vjx;
    CLogWindow m_log;
    CComboBox m_cardList;
    CEdit m_fileName;

    // List position -> card index; room for the cards of the last listing.
    std::vector<uint32_t> m_cardIndex;
    uint32_t m_cardCount = 0;
    uint32_t m_skipCount = 0;
    bool m_flashCompleted = false;
    bool m_versionCheckFailed = false;
#if !VJX_WINDOWS_PROGRAM
    void (*m_programmingHook)(int programming) = nullptr;
#endif

#if VJX_WINDOWS_PROGRAM
    // ---- The Windows dialog (windows/VJXFlashDlg.cpp) --------------------
public:
    // Enables (non-zero) or disables, in this order, "Browse", "Close",
    // "Flash!", "Flash All!", the file-name field, the card list and last the
    // dialog itself.
    void EnableWindow(int enable);
    // Ends the dialog, except while a card is being programmed (the
    // controls disabled): then nothing may stop the engines halfway.
    void OnCancel() override;
    void OnBrowse();
    // The hidden "Configure!" and "Send!" commands: they count the cards
    // and open the selected one.
    void OnConfigure();
    void OnSend();

protected:
    void DoDataExchange(CDataExchange* dx) override;
    bool OnCommand(unsigned id, unsigned code) override;
    bool OnSysCommand(unsigned id, intptr_t lParam) override;
    bool OnPaint() override;
    HICON OnQueryDragIcon() override;
    // Refused while a card is programmed.
    bool OnQueryEndSession() override;

    HICON m_hIcon = nullptr;
    bool m_programming = false;  // between EnableWindow(0) and EnableWindow(1)
    CEdit m_sendText;            // 1008, bound, never read
    CButton m_sendButton;        // 1007 "Send!"
    CButton m_configureButton;   // 1005 "Configure!"
    CButton m_closeButton;       // 2 "Close"
    CButton m_flashButton;       // 1003 "Flash!"
    CButton m_flashAllButton;    // 1006 "Flash All!"
    CButton m_browseButton;      // 1002 "Browse"
    CButton m_programRom;        // 1010, bound, never read
    CButton m_programFpga;       // 1011, bound, never read

private:
    void RunCardCommand(bool configure);
#endif

private:
    // The places where the dialog window takes part in start-up and in the
    // flash command; all empty in the Linux program.
    void SetUpWindow();
    void SetControlsEnabled(int enable);
    // Asked when the card's own type is unknown: non-zero when the user
    // confirms that the file fits (the Linux program refuses instead).
    int ConfirmUnknownCard(const char* fileModelName);
    void CloseLine() {
        m_log.Append("", 1);
    }
    // The access library's reason for refusing the card's registers, shown
    // once in the program's life: without it a card the user may not reach
    // looks merely silent.
    void ShowAccessRefusal();
    bool m_refusalShown = false;
};
