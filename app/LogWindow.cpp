// The log's line handling, the same in both programs: text comes in with
// "\n" line breaks and goes out with the platform's line break through
// AppendReplace, the one primitive each program writes its own way.
#include "LogWindow.h"

#include <cstdarg>
#include <string>

namespace {

constexpr size_t kFormatLimit = 999;  // bytes, terminator included

}  // namespace

void CLogWindow::Append(char c) {
    const char text[2] = {c, '\0'};
    Append(text, 0);
}

void CLogWindow::Append(const char* text, int newLine) {
    // Every line of the text is written with a line break before it; runs of
    // line breaks give no empty lines, and nothing follows the last line.
    const std::string copy = text ? text : "";
    bool first = true;
    size_t pos = 0;
    while (pos < copy.size()) {
        size_t end = copy.find('\n', pos);
        if (end == std::string::npos) end = copy.size();
        if (end > pos) {
            if (newLine || !first) AppendReplace(vjx::platform::kLineBreak);
            AppendReplace(copy.substr(pos, end - pos).c_str());
            first = false;
        }
        pos = end + 1;
    }
    if (first && newLine) AppendReplace(vjx::platform::kLineBreak);
}

void CLogWindow::AppendFormat(const char* format, ...) {
    char buffer[kFormatLimit];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    Append(buffer, 1);
}

int CLogWindow::MessageBox(const char* text1, const char* text2, unsigned type, unsigned helpId) {
    std::string text = text1 ? text1 : "";
    text += text2 ? text2 : "";
    return MessageBox(text.c_str(), type, helpId);
}
