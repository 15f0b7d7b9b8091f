#include "FileFilter.h"

#include <cctype>
#include <string>

namespace vjx {
namespace windows {

namespace {

// The list box gives the chooser at most this many characters of its entry,
// and the model label keeps at most as many.
constexpr size_t kEntryChars = 19;

constexpr const char* kUpdateFiles = "Flash Update Files";
constexpr const char* kAllFiles = "All Files";
constexpr const char* kExtension = "tcf";

bool IsLetter(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// Letters and digits stay, brackets match any run, a blank any one
// character; everything else is left out.
std::string PatternOf(const std::string& model) {
    std::string pattern;
    for (char c : model) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            pattern += c;
        else if (c == '(' || c == ')')
            pattern += '*';
        else if (c == ' ')
            pattern += '?';
    }
    return pattern;
}

}  // namespace

CString ModelNameOfEntry(const char* entry) {
    const std::string text = std::string(entry ? entry : "").substr(0, kEntryChars);
    std::string model;
    if (!text.empty() && IsLetter(text[0]))
        model = text;
    else if (text.size() >= 2 && text[1] == ':')
        model = text.size() > 3 ? text.substr(3) : "";
    else if (text.size() >= 3 && text[2] == ':')
        model = text.size() > 4 ? text.substr(4) : "";
    if (model.empty() || model[0] == 'U') return CString();
    return CString(model.c_str());
}

CString FileFilterForEntry(const char* entry) {
    const CString model = ModelNameOfEntry(entry);
    CString filter;
    if (model.IsEmpty()) {
        filter.Format("%s (*.%s)|*.%s|%s (*.*)|*.*||", kUpdateFiles, kExtension, kExtension, kAllFiles);
        return filter;
    }
    const std::string pattern = PatternOf(model.str());
    filter.Format("%s - %s|%s *.%s|%s (*.%s)|*.%s|%s (*.*)|*.*||", static_cast<const char*>(model),
                  kUpdateFiles, pattern.c_str(), kExtension, kUpdateFiles, kExtension, kExtension, kAllFiles);
    return filter;
}

}  // namespace windows
}  // namespace vjx
