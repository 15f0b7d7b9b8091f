#include "Process.h"

namespace e2e {

namespace {

Result run(const std::vector<std::string>& argv) {
    return testsupport::runProgram(argv[0], argv);
}

}  // namespace

Result vjxsim(const std::vector<std::string>& args) {
    std::vector<std::string> argv{VJXSIM_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

Result tcftool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{TCFTOOL_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

Result vjxflashOn(const std::string& rack, const std::vector<std::string>& args,
                  const std::vector<std::string>& runOptions) {
    std::vector<std::string> argv{VJXSIM_BIN, "run", rack};
    argv.insert(argv.end(), runOptions.begin(), runOptions.end());
    argv.push_back("--");
    argv.push_back(VJXFLASH_BIN);
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

}  // namespace e2e
