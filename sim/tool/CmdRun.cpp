// vjxsim run: the command runs with the simulated libmerix32.so.5 in front of
// the hardware one and the rack, timing and trace settings in its
// environment.
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Commands.h"
#include "sim/FileUtil.h"
#include "sim/Trace.h"
#include "sim/backend/Environment.h"

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

}  // namespace

int cmdRun(const RunSettings& s, const char*) {
    namespace be = sim::backend;
    std::string rack = absolute(s.dir);
    if (access((rack + "/rack.json").c_str(), R_OK) != 0)
        return error(s.dir + ": not a rack (make one with 'vjxsim new')");
    std::string lib = libraryDir();
    if (lib.empty()) return error("cannot find the simulated libmerix32.so.5 (build the merix32_sim target)");
    if (!s.traceOnly.empty()) {
        sim::TraceFilter filter;
        std::string err;
        if (!sim::TraceFilter::parse(s.traceOnly, &filter, &err)) return error(err);
    }

    const char* old = getenv("LD_LIBRARY_PATH");
    std::string path = lib + (old && *old ? ":" + std::string(old) : "");
    setenv("LD_LIBRARY_PATH", path.c_str(), 1);
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

    std::vector<char*> argv;
    for (const auto& a : s.command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    error("cannot run " + s.command[0] + ": " + strerror(errno));
    return 127;
}

}  // namespace vjxsim
