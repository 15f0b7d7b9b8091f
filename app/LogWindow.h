// The one sink for progress, result and error text. The Linux form writes to
// a stdio stream (standard output unless told otherwise) and frames message
// boxes with dashed lines; the Windows form appends to the log edit control.
#pragma once

#include <cstdio>

#include "../platform/platform.h"

class CLogWindow : public CEdit {
public:
    explicit CLogWindow(std::FILE* out = stdout) : m_out(out) {}
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

private:
    std::FILE* m_out;
};
