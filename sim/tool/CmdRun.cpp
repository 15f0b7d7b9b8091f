// vjxsim run: the command runs with the simulated libmerix32.so.5 in front of
// the hardware one and the rack, timing and trace settings in its
// environment.
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Commands.h"
#include "libmerix32/registry.h"
#include "sim/FileUtil.h"
#include "sim/Platform.h"
#include "sim/Trace.h"
#include "sim/WindowsHold.h"
#include "sim/backend/Environment.h"
#include "sim/backend/Moments.h"

#ifndef VJXSIM_LIBDIR
#define VJXSIM_LIBDIR ""
#endif

namespace vjxsim {
namespace {

bool hasLibrary(const std::string& dir) {
    return !dir.empty() && access((dir + "/libmerix32.so.5").c_str(), R_OK) == 0;
}

// The simulated library's directory: beside the tool's own build output
// (bin/../sim/lib), else where the build put it.
std::string libraryDir() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        std::string dir(self);
        dir = dir.substr(0, dir.rfind('/'));
        std::string candidate = dir + "/../sim/lib";
        if (hasLibrary(candidate)) return candidate;
    }
    return hasLibrary(VJXSIM_LIBDIR) ? VJXSIM_LIBDIR : "";
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

// A Windows program runs under Wine: a word of the command is `wine` (or
// wine64, ...), also behind a wrapper such as xvfb-run, or names a .exe.
bool isWindowsProgram(const std::vector<std::string>& command) {
    for (const std::string& word : command) {
        const std::string name = word.substr(word.find_last_of("/\\") + 1);
        std::string lower;
        for (char c : name) lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
        if (lower.compare(0, 4, "wine") == 0 ||
            (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".exe") == 0))
            return true;
    }
    return false;
}

int64_t clockNs(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

pid_t g_child = 0;

void passOn(int signal) {
    if (g_child > 0) kill(g_child, signal);
}

// The Windows program's run: the rack held for it alone from before it
// starts until it has ended (see sim/WindowsHold.h).
int runWindowsProgram(const RunSettings& s, const std::string& rack) {
    namespace be = sim::backend;
    if (s.clock == "virtual")
        return error(
            "--clock virtual: a Windows program runs on real time only (its clock is Windows's own, "
            "which the simulator cannot move)");
    merix::Registry registry(rack + "/runtime");
    std::string why;
    if (!registry.registerProcess(&why)) return error(s.dir + ": " + why);
    // The hold first, then the count: a Linux program that registers after
    // the count meets the hold when it first opens a card.
    std::unique_ptr<sim::WindowsHold> hold = sim::WindowsHold::take(rack, &why);
    if (!hold || registry.activeProcessCount() > 1 || !registry.setFlashActive(true, &why))
        return error(s.dir + ": in use by a running program (try again when it has ended)");

    // Under Wine the program's performance counter is the raw monotonic clock.
    const int64_t aheadNs = clockNs(CLOCK_MONOTONIC) - clockNs(CLOCK_MONOTONIC_RAW);
    setenv(be::kEnvHold, hold->token().c_str(), 1);
    setenv(be::kEnvHostClock, (sim::sys::bootId() + " " + std::to_string(aheadNs)).c_str(), 1);

    std::vector<char*> argv;
    for (const auto& a : s.command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    fflush(nullptr);
    g_child = fork();
    if (g_child < 0) return error(std::string("cannot start ") + s.command[0] + ": " + strerror(errno));
    if (g_child == 0) {
        execvp(argv[0], argv.data());
        fprintf(stderr, "vjxsim: cannot run %s: %s\n", argv[0], strerror(errno));
        _exit(127);
    }
    // An interrupt at the terminal reaches the program itself; a request to
    // end is passed on. The hold ends when the program has.
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    signal(SIGTERM, passOn);
    signal(SIGHUP, passOn);
    int status = 0;
    while (waitpid(g_child, &status, 0) < 0)
        if (errno != EINTR) return error(std::string("lost ") + s.command[0] + ": " + strerror(errno));
    hold.reset();
    registry.setFlashActive(false, &why);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

int cmdRun(const RunSettings& s, const char*) {
    namespace be = sim::backend;
    std::string rack = absolute(s.dir);
    if (access((rack + "/rack.json").c_str(), R_OK) != 0)
        return error(s.dir + ": not a rack (make one with 'vjxsim new')");
    const bool windows = isWindowsProgram(s.command);
    std::string lib = windows ? "" : libraryDir();
    if (!windows && lib.empty())
        return error("cannot find the simulated libmerix32.so.5 (build the merix32_sim target)");
    if (!s.traceOnly.empty()) {
        sim::TraceFilter filter;
        std::string err;
        if (!sim::TraceFilter::parse(s.traceOnly, &filter, &err)) return error(err);
    }

    std::string at;
    for (const std::string& m : s.at) at += (at.empty() ? "" : ",") + m;
    if (!at.empty()) {
        std::vector<be::Moment> moments;
        std::string err;
        if (windows) return error("--at: only for a Linux program");
        if (!be::parseMoments(at, &moments, &err)) return error("--at " + err);
    }

    if (!windows) {
        const char* old = getenv("LD_LIBRARY_PATH");
        std::string path = lib + (old && *old ? ":" + std::string(old) : "");
        setenv("LD_LIBRARY_PATH", path.c_str(), 1);
    }
    setenv(be::kEnvRack, rack.c_str(), 1);
    auto setOrClear = [](const char* name, const std::string& value) {
        if (value.empty())
            unsetenv(name);
        else
            setenv(name, value.c_str(), 1);
    };
    setOrClear(be::kEnvTiming, s.timing);
    setOrClear(be::kEnvClock, s.clock == "virtual" ? s.clock : "");
    setOrClear(be::kEnvTraceOnly, s.traceOnly);
    setOrClear(be::kEnvStrict, s.strict ? "1" : "");
    setOrClear(be::kEnvAt, at);
    setOrClear(be::kEnvStats, s.stats.empty() ? "" : absolute(s.stats));
    setOrClear(be::kEnvTrace, s.trace.empty() ? "" : absolute(s.trace));
    if (!s.trace.empty()) {
        // The library appends; the run starts a fresh trace.
        std::string err;
        if (!sim::writeFileAtomic(absolute(s.trace), "", &err)) return error(err);
    }
    if (!s.stats.empty()) {
        // The counts are written when the program ends; a place they cannot
        // go is refused before it starts (and what is there is no longer
        // taken for this run's counts).
        std::string err;
        if (!sim::writeFileAtomic(absolute(s.stats), "", &err)) return error("--stats: " + err);
    }

    if (windows) return runWindowsProgram(s, rack);
    std::vector<char*> argv;
    for (const auto& a : s.command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    error("cannot run " + s.command[0] + ": " + strerror(errno));
    return 127;
}

}  // namespace vjxsim
