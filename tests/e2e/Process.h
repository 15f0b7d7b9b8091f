// Running the programs under test: vjxsim, tcftool and vjxflash on a rack.
#pragma once

#include <sys/types.h>

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

// A program running beside the test, in a process group of its own (so that
// the whole group can be killed at once), its output going to files.
struct Started {
    pid_t pid = -1;
    int input = -1;  // write end of its standard input (withInput), else -1
};
Started start(const std::vector<std::string>& argv, const std::string& outFile, const std::string& errFile,
              bool withInput = false);
// Closes its standard input and answers its exit status (128 + signal
// number when killed); -1 when it has not ended within `seconds` (it is
// killed then).
int finish(Started& program, double seconds);

}  // namespace e2e
