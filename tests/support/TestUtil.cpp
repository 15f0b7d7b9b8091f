#include "TestUtil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace testsupport {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vjxtest.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
        pattern = std::filesystem::temp_directory_path().string();
    }
    m_dir = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (m_dir != std::filesystem::temp_directory_path().string()) std::filesystem::remove_all(m_dir, ignored);
}

std::string TempDir::write(const std::string& name, const Bytes& bytes) const {
    const std::string p = path(name);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "can't write " << p;
    return p;
}

std::string TempDir::writeText(const std::string& name, const std::string& text) const {
    return write(name, Bytes(text.begin(), text.end()));
}

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

CapturedLog::CapturedLog() : m_file(std::tmpfile()), m_log(m_file) {
    if (m_file == nullptr) ADD_FAILURE() << "tmpfile failed";
}

CapturedLog::~CapturedLog() {
    if (m_file) std::fclose(m_file);
}

std::string CapturedLog::text() const {
    std::string all;
    if (!m_file) return all;
    std::fflush(m_file);
    std::rewind(m_file);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0) all.append(buffer, n);
    std::fseek(m_file, 0, SEEK_END);
    return all;
}

std::vector<std::string> CapturedLog::errors() const {
    static const std::string kBanner = "------------------- Error -------------------\n";
    static const std::string kEnd = "\n---------------------------------------------";
    std::vector<std::string> found;
    const std::string all = text();
    size_t pos = 0;
    while ((pos = all.find(kBanner, pos)) != std::string::npos) {
        pos += kBanner.size();
        const size_t end = all.find(kEnd, pos);
        if (end == std::string::npos) break;
        found.push_back(all.substr(pos, end - pos));
        pos = end;
    }
    return found;
}

Outcome runProgram(const std::string& program, const std::vector<std::string>& argv) {
    const TempDir dir;
    Started started = start(argv, dir.path("out"), dir.path("err"), false, program);
    Outcome outcome;
    if (started.pid <= 0) {
        outcome.err = "spawn failed";
        return outcome;
    }
    outcome.status = finish(started, -1);
    outcome.out = readText(dir.path("out"));
    outcome.err = readText(dir.path("err"));
    return outcome;
}

Started start(const std::vector<std::string>& argv, const std::string& outFile, const std::string& errFile,
              bool withInput, const std::string& program) {
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
    const std::string& path = program.empty() ? argv[0] : program;
    if (posix_spawn(&started.pid, path.c_str(), &actions, &attr, args.data(), environ) != 0) started.pid = -1;
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
    const pid_t pid = program.pid;
    if (pid <= 0) return -1;
    program.pid = -1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    pid_t done = waitpid(pid, &status, seconds < 0 ? 0 : WNOHANG);
    while (done == 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        done = waitpid(pid, &status, WNOHANG);
    }
    if (done != pid) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace testsupport
