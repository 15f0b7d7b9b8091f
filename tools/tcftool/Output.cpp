#include "Output.h"

#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace tcftool {
namespace {

// The temporary file being written, removed if a signal ends the program
// before it has been renamed (a fixed buffer: the handler may not allocate).
char g_tempPath[4096];

extern "C" void RemoveTempAndDie(int signal) {
    if (g_tempPath[0] != '\0') unlink(g_tempPath);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

class TempGuard {
public:
    explicit TempGuard(const std::string& path) {
        std::strncpy(g_tempPath, path.c_str(), sizeof g_tempPath - 1);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) m_old[Slot(s)] = std::signal(s, RemoveTempAndDie);
    }
    ~TempGuard() {
        for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, m_old[Slot(s)]);
        if (!m_kept) unlink(g_tempPath);
        g_tempPath[0] = '\0';
    }
    TempGuard(const TempGuard&) = delete;
    TempGuard& operator=(const TempGuard&) = delete;
    void keep() { m_kept = true; }

private:
    static int Slot(int s) { return s == SIGINT ? 0 : s == SIGTERM ? 1 : 2; }
    void (*m_old[3])(int) = {};
    bool m_kept = false;
};

std::string Reason(const std::string& what, const std::string& path) {
    return "can't " + what + " \"" + path + "\": " + std::strerror(errno);
}

std::string DirectoryOf(const std::string& path) {
    std::string copy = path;
    return dirname(copy.data());
}

std::string BaseOf(const std::string& path) {
    std::string copy = path;
    return basename(copy.data());
}

bool WriteAll(int fd, const std::vector<unsigned char>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool WriteOutput(const std::string& requested, const std::vector<unsigned char>& bytes,
                 const OutputCheck& check, std::string* error) {
    // A symbolic link is followed: the file it names is replaced, the link
    // stays.
    std::string path = requested;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = realpath(path.c_str(), nullptr);
        if (real) {
            path = real;
            std::free(real);
        }
    }
    mode_t mode;
    if (stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            *error = "\"" + requested + "\" exists and is not a regular file";
            return false;
        }
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }

    // A file size limit (ulimit -f) must end the write with an error, not
    // the process with a signal.
    std::signal(SIGXFSZ, SIG_IGN);

    std::string temp = DirectoryOf(path) + "/." + BaseOf(path) + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = Reason("create a temporary file beside", requested);
        return false;
    }
    TempGuard guard(temp);
    bool ok = WriteAll(fd, bytes);
    if (!ok) *error = Reason("write", requested);
    if (ok && fchmod(fd, mode) != 0) {
        *error = Reason("set the permissions of", requested);
        ok = false;
    }
    if (ok && fsync(fd) != 0) {
        *error = Reason("write", requested);
        ok = false;
    }
    if (close(fd) != 0 && ok) {
        *error = Reason("write", requested);
        ok = false;
    }
    if (!ok) return false;
    if (check && !check(temp, error)) return false;
    if (rename(temp.c_str(), path.c_str()) != 0) {
        *error = Reason("rename the temporary file to", requested);
        return false;
    }
    guard.keep();
    // The new directory entry outlives a power cut only once the directory
    // itself is on disk.
    const int dir = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

}  // namespace tcftool
