#include "registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace merix {
namespace {

constexpr const char* kDirLockName = "registry.lock";
constexpr const char* kFlashLockName = "flash.lock";
constexpr const char* kProcPrefix = "proc-";

std::atomic<unsigned> g_serial{0};

// Every Registry of the process, for the fork handler.
std::mutex g_instancesMutex;
std::set<Registry*>& instances() {
    static std::set<Registry*>* all = new std::set<Registry*>;  // outlives every Registry
    return *all;
}

std::string errnoText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

int flockRetry(int fd, int op) {
    int rc;
    do {
        rc = ::flock(fd, op);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

// Every user of the machine may write the runtime directory, so a name in it
// may be anything: links are never followed, and only regular files are kept
// open (a FIFO planted there cannot block the open either).
constexpr int kSafeOpen = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

int openRegular(const std::string& path, int flags, mode_t mode = 0) {
    int fd = ::open(path.c_str(), flags | kSafeOpen, mode);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// Opens a lock file shared by all users of the directory. Existing files are
// opened without O_CREAT, because a sticky world-writable directory may refuse
// O_CREAT on another user's file; new files are made readable and writable for
// everyone whatever the umask.
int openShared(const std::string& path, int flags) {
    int fd = openRegular(path, flags);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = openRegular(path, flags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
        (void)::fchmod(fd, 0666);
        return fd;
    }
    if (errno == EEXIST) return openRegular(path, flags);
    return -1;
}

// Holds the directory lock for one scope.
class DirLock {
public:
    explicit DirLock(const std::string& dir) {
        m_fd = openShared(dir + "/" + kDirLockName, O_RDONLY);
        if (m_fd >= 0 && flockRetry(m_fd, LOCK_EX) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~DirLock() {
        if (m_fd >= 0) ::close(m_fd);
    }
    DirLock(const DirLock&) = delete;
    DirLock& operator=(const DirLock&) = delete;
    bool ok() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

bool pidAlive(long pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// "proc-<pid>-<n>" -> pid, or 0 when the name is not a registration file.
long procPid(const char* name) {
    size_t prefix = std::strlen(kProcPrefix);
    if (std::strncmp(name, kProcPrefix, prefix) != 0) return 0;
    char* end = nullptr;
    long pid = std::strtol(name + prefix, &end, 10);
    if (end == name + prefix || *end != '-') return 0;
    return pid;
}

}  // namespace

Registry::Registry(std::string runtimeDir) : m_dir(std::move(runtimeDir)) {
    static std::once_flag atfork;
    std::call_once(atfork, [] {
        ::pthread_atfork([] { g_instancesMutex.lock(); }, [] { g_instancesMutex.unlock(); },
                         &Registry::afterForkInChild);
    });
    std::lock_guard<std::mutex> guard(g_instancesMutex);
    instances().insert(this);
}

void Registry::afterForkInChild() {
    for (Registry* registry : instances()) registry->dropInherited();
    g_instancesMutex.unlock();
}

Registry::~Registry() {
    {
        std::lock_guard<std::mutex> guard(g_instancesMutex);
        instances().erase(this);
    }
    if (forkedAway()) return;  // the descriptors belong to the parent
    if (m_flashFd >= 0) {
        (void)::ftruncate(m_flashFd, 0);
        ::close(m_flashFd);
    }
    if (m_procFd >= 0) {
        DirLock lock(m_dir);
        ::unlink(m_procPath.c_str());
        ::close(m_procFd);
    }
}

bool Registry::forkedAway() const {
    return m_ownerPid != 0 && m_ownerPid != ::getpid();
}

// After fork() the child shares the parent's open file descriptions and so
// its locks. Closing the child's copies leaves the parent's locks in place.
void Registry::dropInherited() {
    if (!forkedAway()) return;
    if (m_procFd >= 0) ::close(m_procFd);
    if (m_flashFd >= 0) ::close(m_flashFd);
    m_procFd = -1;
    m_flashFd = -1;
    m_procPath.clear();
    m_ownerPid = 0;
}

bool Registry::ensureDir(std::string* error) {
    if (::mkdir(m_dir.c_str(), 01777) == 0) {
        // Every user of the machine registers here; the sticky bit keeps
        // them from removing each other's files.
        (void)::chmod(m_dir.c_str(), 01777);
        return true;
    }
    // An existing one must be a directory itself, not a link to elsewhere.
    struct stat st;
    if (errno == EEXIST && ::lstat(m_dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    if (errno == EEXIST) errno = ENOTDIR;
    setError(error, errnoText("Can't use runtime directory", m_dir));
    return false;
}

bool Registry::registerProcess(std::string* error) {
    dropInherited();
    if (m_procFd >= 0) return true;
    if (!ensureDir(error)) return false;
    DirLock lock(m_dir);
    if (!lock.ok()) {
        setError(error, errnoText("Can't lock", m_dir + "/" + kDirLockName));
        return false;
    }
    std::string path =
        m_dir + "/" + kProcPrefix + std::to_string(::getpid()) + "-" + std::to_string(g_serial.fetch_add(1));
    ::unlink(path.c_str());  // left by a dead process of the same pid
    int fd = openRegular(path, O_RDONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        setError(error, errnoText("Can't create", path));
        return false;
    }
    if (flockRetry(fd, LOCK_EX | LOCK_NB) != 0) {
        setError(error, errnoText("Can't lock", path));
        ::close(fd);
        ::unlink(path.c_str());
        return false;
    }
    m_procFd = fd;
    m_procPath = path;
    m_ownerPid = ::getpid();
    return true;
}

int Registry::activeProcessCount() {
    dropInherited();
    DirLock lock(m_dir);
    DIR* dir = lock.ok() ? ::opendir(m_dir.c_str()) : nullptr;
    if (!dir) return m_procFd >= 0 ? 1 : 0;
    std::set<long> live;
    while (struct dirent* entry = ::readdir(dir)) {
        long pid = procPid(entry->d_name);
        if (pid == 0) continue;
        std::string path = m_dir + "/" + entry->d_name;
        if (pid == ::getpid() && path == m_procPath) {
            live.insert(pid);
            continue;
        }
        int fd = openRegular(path, O_RDONLY);
        if (fd < 0) continue;
        bool held = flockRetry(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        // A registration is live while its lock is held by a process that
        // still exists (a forked child may hold a dead parent's lock).
        if (held && pidAlive(pid)) {
            live.insert(pid);
        } else if (!held) {
            ::unlink(path.c_str());  // nobody holds it: its process has ended
        }
        ::close(fd);
    }
    ::closedir(dir);
    return static_cast<int>(live.size());
}

bool Registry::setFlashActive(bool on, std::string* error) {
    dropInherited();
    if (!on) {
        if (m_flashFd >= 0) {
            (void)::ftruncate(m_flashFd, 0);
            ::close(m_flashFd);  // drops the lock
            m_flashFd = -1;
        }
        return true;
    }
    if (m_flashFd >= 0) return true;
    if (!ensureDir(error)) return false;
    std::string path = m_dir + "/" + kFlashLockName;
    bool writable = true;
    int fd = openShared(path, O_RDWR);
    if (fd < 0 && errno == EACCES) {
        writable = false;  // another user's file: lock it, but leave its text
        fd = openRegular(path, O_RDONLY);
    }
    if (fd < 0) {
        setError(error, errnoText("Can't open", path));
        return false;
    }
    if (flockRetry(fd, LOCK_EX | LOCK_NB) != 0) {
        int lockErrno = errno;
        char text[32] = {};
        ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
        ::close(fd);
        if (lockErrno != EWOULDBLOCK) {
            errno = lockErrno;
            setError(error, errnoText("Can't lock", path));
            return false;
        }
        long holder = got > 0 ? std::strtol(text, nullptr, 10) : 0;
        if (holder > 0) {
            setError(error,
                     "A VJX flash update is already active in process " + std::to_string(holder) + ".");
        } else {
            setError(error, "A VJX flash update is already active in another process.");
        }
        return false;
    }
    if (writable) {
        std::string text = std::to_string(::getpid()) + "\n";
        (void)::ftruncate(fd, 0);
        (void)::pwrite(fd, text.data(), text.size(), 0);
    }
    m_flashFd = fd;
    m_ownerPid = ::getpid();
    return true;
}

}  // namespace merix
