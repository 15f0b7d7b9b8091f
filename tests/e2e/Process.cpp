#include "Process.h"

#include <gtest/gtest.h>

namespace e2e {

namespace {

Result run(std::vector<std::string> argv, const std::vector<std::string>& args = {}) {
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::runProgram(argv[0], argv);
}

}  // namespace

Result vjxsim(const std::vector<std::string>& args) {
    return run({VJXSIM_BIN}, args);
}

Result tcftool(const std::vector<std::string>& args) {
    return run({TCFTOOL_BIN}, args);
}

Result vjxflashOn(const std::string& rack, const std::vector<std::string>& args,
                  const std::vector<std::string>& runOptions) {
    std::vector<std::string> argv{VJXSIM_BIN, "run", rack, "--strict"};
    argv.insert(argv.end(), runOptions.begin(), runOptions.end());
    argv.insert(argv.end(), {"--", VJXFLASH_BIN});
    return run(argv, args);
}

std::string newRackAndUpdate(const std::string& rack, const std::string& card, unsigned firmwareSize,
                             const std::string& module, unsigned fpgaSize) {
    const std::string fpga = rack + ".fpga", fw = rack + ".fw", file = rack + ".tcf";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"new", rack, "--card", card},
             {"image", "fpga", "--version", "9", "--size", std::to_string(fpgaSize), "-o", fpga},
             {"image", "firmware", "--version", "3.10", "--isp", "9", "--size", std::to_string(firmwareSize),
              "-o", fw}}) {
        Result r = vjxsim(args);
        if (r.status != 0) {
            ADD_FAILURE() << "vjxsim " << args[0] << ": " << r.err;
            return "";
        }
    }
    Result r = tcftool({"build", "-o", file, "--module", module, "--fpga", fpga, "--firmware", fw});
    if (r.status != 0) {
        ADD_FAILURE() << "tcftool build: " << r.out << r.err;
        return "";
    }
    return file;
}

}  // namespace e2e
