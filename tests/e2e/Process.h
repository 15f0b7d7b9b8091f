// Running the programs under test: vjxsim, tcftool and vjxflash on a rack.
#pragma once

#include <string>
#include <vector>

#include "tests/support/TestUtil.h"

namespace e2e {

using Result = testsupport::Outcome;
using testsupport::finish;
using testsupport::readText;
using testsupport::start;
using testsupport::Started;
using testsupport::TempDir;

inline bool contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

Result vjxsim(const std::vector<std::string>& args);
Result tcftool(const std::vector<std::string>& args);
// vjxsim run RACK --strict [extra run options] -- vjxflash ARGS...: a rule
// of a part that the program breaks fails the run.
Result vjxflashOn(const std::string& rack, const std::vector<std::string>& args,
                  const std::vector<std::string>& runOptions = {});

// A new rack at `rack` with one card of `card` (as `vjxsim new --card` takes
// it), and an update file for `module` that brings it to FPGA version 9
// (`fpgaSize` bytes) and firmware "3.10" (ISP 9, `firmwareSize` bytes), the
// images and the file made beside the rack (RACK.fpga, RACK.fw, RACK.tcf).
// Answers the file's path; a failure fails the test and answers "".
std::string newRackAndUpdate(const std::string& rack, const std::string& card, unsigned firmwareSize,
                             const std::string& module = "84", unsigned fpgaSize = 30000);

}  // namespace e2e
