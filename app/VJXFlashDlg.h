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
    // logOut: where the Linux log writes (standard output in the program).
    explicit CVJXFlashDlg(std::FILE* logOut = stdout);
    ~CVJXFlashDlg() override;
    CVJXFlashDlg(const CVJXFlashDlg&) = delete;
    CVJXFlashDlg& operator=(const CVJXFlashDlg&) = delete;

    // Start-up: banner, card count and the silent card list. Ends the
    // process with status 2 (OnCancel) when there is no usable card.
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
    bool FlashCompleted() const { return m_flashCompleted; }

    CComboBox& CardList() { return m_cardList; }
    CEdit& FileName() { return m_fileName; }
    CLogWindow& Log() { return m_log; }
    CVjxPci& Card() { return m_vjx; }
    uint32_t CardCount() const { return m_cardCount; }
    uint32_t SkipCount() const { return m_skipCount; }

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

private:
    // The two places where the dialog window takes part in the flash
    // command; both are empty in the Linux program.
    void SetControlsEnabled(int enable);
    // Asked when the card's own type is unknown: non-zero when the user
    // confirms that the file fits (the Linux program refuses instead).
    int ConfirmUnknownCard(const char* fileModelName);
    void CloseLine() { m_log.Append("", 1); }
};
