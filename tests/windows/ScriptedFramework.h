// The Windows framework layer answered by the test instead of Win32: every
// window is a record the test can read and change, message boxes are
// recorded and answered from a list.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "afxshim.h"

// The record behind a window handle of the scripted framework.
struct HWND__ {
    int id = 0;  // 0: a dialog
    std::string text;
    bool enabled = true;
    bool combo = false;
    std::vector<std::string> items;  // combo box entries
    int sel = -1;
    int selStart = 0, selEnd = 0;
    unsigned limit = 30000;
    std::vector<std::string> systemMenu;
    HICON bigIcon = nullptr, smallIcon = nullptr;
    bool iconic = false;
    int ended = 0;  // 1 + the EndDialog code once ended
    std::map<int, HWND__*> children;
};

namespace scripted {

struct Box {
    std::string text;
    std::string caption;
    unsigned type;
    bool ofWindow;  // CWnd::MessageBox (else AfxMessageBox)
};

struct State {
    std::vector<Box> boxes;
    std::deque<int> answers;  // given to the boxes in turn; IDOK when empty
    std::vector<unsigned> beeps;
    // "enable 1002 0", "enable dialog 1", "paint icon", "timer 1 ms",
    // "timer default", "block session: REASON", "unblock session"
    std::vector<std::string> events;
    std::map<unsigned, std::string> strings;
};

State& state();
// Forgets every window and all recorded calls.
void reset();

// Makes the dialog's window and runs its initialisation, as the framework
// does when the dialog opens; the dialog stays open.
int open(CDialog& dialog);
// A window of its own, for a control used without a dialog.
HWND window(int id);
// The control `id` of an open dialog (made when first asked for).
HWND__& control(CDialog& dialog, int id);

}  // namespace scripted
