// Writing an output file so that it is either complete and checked or not
// there at all: a temporary file beside the target, checked, then renamed
// over it. An earlier file of that name stays as it was until the rename.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tcftool {

// Checks the written temporary file; answers false with a reason.
using OutputCheck = std::function<bool(const std::string& tempPath, std::string* error)>;

bool WriteOutput(const std::string& path, const std::vector<unsigned char>& bytes, const OutputCheck& check,
                 std::string* error);

// True when both names lead to the same existing file (or are the same
// name).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace tcftool
