// The one sink for progress, result and error text. The line handling is
// shared (LogWindow.cpp); the Linux form (linux/LogWindow.cpp) writes to a
// stdio stream (standard output unless told otherwise) and frames message
// boxes with dashed lines, the Windows form (windows/LogWindow.cpp) appends
// to the log edit control and shows real message boxes.
#pragma once

#include <cstdio>

#include "../platform/platform.h"

class CLogWindow : public CEdit {
public:
#if VJX_WINDOWS_PROGRAM
    // Attached to the dialog's log edit control when the dialog binds it.
    CLogWindow() = default;
#else
    explicit CLogWindow(std::FILE* out = stdout) : m_out(out) {}
#endif
    ~CLogWindow() override = default;

    // Appends one character on the current line ("\n" writes nothing).
    void Append(char c);
    // Appends text line by line; newLine non-zero starts a new line first.
    void Append(const char* text, int newLine);
    // Formats (at most 998 characters), then Append(result, 1).
    void AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Raw output primitive: puts text at the end of the log unchanged.
    void AppendReplace(const char* text);

    int MessageBox(const char* text, unsigned type, unsigned helpId);
    int MessageBox(const char* text1, const char* text2, unsigned type, unsigned helpId);

#if !VJX_WINDOWS_PROGRAM
private:
    std::FILE* m_out;
#endif
};
