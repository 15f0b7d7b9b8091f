#include "Process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

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

Started start(const std::vector<std::string>& argv, const std::string& outFile, const std::string& errFile,
              bool withInput) {
    Started started;
    int in[2] = {-1, -1};
    if (withInput && pipe2(in, O_CLOEXEC) != 0) return started;
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (withInput) {
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&started.pid, args[0], &actions, &attr, args.data(), environ) != 0) started.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (withInput) {
        close(in[0]);
        started.input = in[1];
    }
    return started;
}

int finish(Started& program, double seconds) {
    if (program.input >= 0) close(program.input);
    program.input = -1;
    if (program.pid <= 0) return -1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(program.pid, &status, WNOHANG);
        if (done == program.pid) break;
        if (done < 0 || std::chrono::steady_clock::now() >= end) {
            kill(-program.pid, SIGKILL);
            waitpid(program.pid, &status, 0);
            program.pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    program.pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace e2e
