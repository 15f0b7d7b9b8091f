// The log in the dialog's edit control: text is appended at the end with the
// end kept in view, and message boxes are real ones that answer.
#include "../LogWindow.h"

void CLogWindow::AppendReplace(const char* text) {
    const int length = GetWindowTextLength();
    SetSel(length, length);
    ScrollCaret();
    ReplaceSel(text, 0);
}

int CLogWindow::MessageBox(const char* text, unsigned type, unsigned helpId) {
    Append(text, 1);
    return ::AfxMessageBox(text, type, helpId);
}
