// The log on standard output: lines are written as they come, message boxes
// are printed inside a dashed frame and always answer 0.
#include "../LogWindow.h"

namespace {

constexpr const char* kErrorBanner = "------------------- Error -------------------";
constexpr const char* kWarningBanner = "------------------ Warning ------------------";
constexpr const char* kPlainBanner = "---------------------------------------------";

constexpr unsigned kIconMask = 0xF0;
constexpr unsigned kIconError = 0x10;
constexpr unsigned kIconQuestion = 0x20;

}  // namespace

void CLogWindow::AppendReplace(const char* text) {
    if (text) std::fputs(text, m_out);
    std::fflush(m_out);
}

int CLogWindow::MessageBox(const char* text, unsigned type, unsigned helpId) {
    const unsigned icon = type & kIconMask;
    const char* banner = icon == kIconError      ? kErrorBanner
                         : icon == kIconQuestion ? kWarningBanner
                                                 : kPlainBanner;
    Append(banner, 1);
    Append(text, 1);
    Append(kPlainBanner, 1);
    ::AfxMessageBox(text, type, helpId);
    return 0;
}
