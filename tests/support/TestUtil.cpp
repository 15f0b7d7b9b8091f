#include "TestUtil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

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
    Outcome outcome;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0) return outcome;
    if (pipe(errPipe) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return outcome;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (rc != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        outcome.err = "spawn failed";
        return outcome;
    }
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&outcome.out, &outcome.err};
    for (int open = 2; open > 0;) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

}  // namespace testsupport
