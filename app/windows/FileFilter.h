// The file chooser's filter, built from the card list's displayed entry.
#pragma once

#include "afxshim.h"

namespace vjx {
namespace windows {

// The model name in a list entry: the whole text for a bare model name (the
// only listed card), the text after "N: " for entries 1 to 99; empty when
// there is none or it names no model (empty, or "Unprogrammed ...").
CString ModelNameOfEntry(const char* entry);

// The filter in the framework's form. With a model name, a first entry for
// that model's update files (blanks match any character, brackets any run),
// then update files, then all files; without one only the last two.
CString FileFilterForEntry(const char* entry);

}  // namespace windows
}  // namespace vjx
