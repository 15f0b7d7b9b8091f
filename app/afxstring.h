// The text string of both frameworks: the Linux shim and the Windows
// framework layer give the shared code the same CString, a standard string
// with value semantics.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

class CString {
public:
    CString() = default;
    CString(const char* text) : m_str(text ? text : "") {}
    CString(const CString&) = default;
    CString& operator=(const CString&) = default;
    CString& operator=(const char* text) {
        m_str = text ? text : "";
        return *this;
    }

    void Empty() { m_str.clear(); }
    int IsEmpty() const { return m_str.empty() ? 1 : 0; }
    int GetLength() const { return static_cast<int>(m_str.size()); }
    operator const char*() const { return m_str.c_str(); }

    CString& operator+=(const char* text) {
        if (text) m_str += text;
        return *this;
    }
    CString& operator+=(const CString& other) {
        m_str += other.m_str;
        return *this;
    }

    // Replaces the content with printf-style output; no length limit.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));

    const std::string& str() const { return m_str; }

private:
    std::string m_str;
};

// Starts with room for 100 characters and formats again with the exact
// size when the text is longer.
inline void CString::Format(const char* format, ...) {
    size_t size = 100;
    for (;;) {
        m_str.resize(size);
        va_list args;
        va_start(args, format);
        int r = std::vsnprintf(&m_str[0], size, format, args);
        va_end(args);
        if (r >= 0 && static_cast<size_t>(r) < size) {
            m_str.resize(static_cast<size_t>(r));
            return;
        }
        size = r < 0 ? size * 2 : static_cast<size_t>(r) + 1;
    }
}
