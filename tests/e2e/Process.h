// Running the programs under test: vjxsim, tcftool and vjxflash on a rack.
#pragma once

#include <string>
#include <vector>

#include "tests/support/TestUtil.h"

namespace e2e {

using Result = testsupport::Outcome;
using testsupport::TempDir;

inline std::string readFile(const std::string& path) {
    return testsupport::readText(path);
}

Result vjxsim(const std::vector<std::string>& args);
Result tcftool(const std::vector<std::string>& args);
// vjxsim run RACK [extra run options] -- vjxflash ARGS...
Result vjxflashOn(const std::string& rack, const std::vector<std::string>& args,
                  const std::vector<std::string>& runOptions = {});

}  // namespace e2e
