#include "Platform.h"

#include <errno.h>
#include <fcntl.h>
#ifndef _WIN32
#include <sys/file.h>
#endif
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "FileUtil.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#endif

namespace sim {
namespace sys {

#ifdef _WIN32

namespace {
std::string g_bootId;
int64_t g_aheadNs = 0;

HANDLE osHandle(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// Errors of the Windows calls as the C library's, for the messages.
int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        default:
            return EIO;
    }
}
}  // namespace

int openFile(const std::string& path, Open how) {
    int flags = _O_BINARY | _O_NOINHERIT;
    flags |= how == Open::Read              ? _O_RDONLY
             : how == Open::ReadWriteCreate ? _O_RDWR | _O_CREAT
                                            : _O_WRONLY | _O_CREAT | _O_TRUNC;
    return ::_open(path.c_str(), flags, _S_IREAD | _S_IWRITE);
}

long long writeAt(int fd, const void* bytes, size_t len, uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    if (!WriteFile(osHandle(fd), bytes, static_cast<DWORD>(len), &done, &at)) {
        errno = errnoOf(GetLastError());
        return -1;
    }
    return done;
}

long long readAt(int fd, void* bytes, size_t len, uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    if (!ReadFile(osHandle(fd), bytes, static_cast<DWORD>(len), &done, &at)) {
        if (GetLastError() == ERROR_HANDLE_EOF) return 0;
        errno = errnoOf(GetLastError());
        return -1;
    }
    return done;
}

FILE* openAppend(const std::string& path) {
    return fopen(path.c_str(), "ab");
}

bool fileSize(int fd, uint64_t* size) {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(osHandle(fd), &s)) return false;
    *size = static_cast<uint64_t>(s.QuadPart);
    return true;
}

bool truncateFile(int fd, uint64_t size) {
    return _chsize_s(fd, static_cast<long long>(size)) == 0;
}

bool fileUnlinked(int fd) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(osHandle(fd), &info) && info.nNumberOfLinks == 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errno = errnoOf(GetLastError());
    return false;
}

bool makeDir(const std::string& path) {
    return ::_mkdir(path.c_str()) == 0;
}

int processId() {
    return ::_getpid();
}

bool tryLock(int fd, bool exclusive) {
    OVERLAPPED at{};
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return LockFileEx(osHandle(fd), flags, 0, 1, 0, &at) != 0;
}

uint64_t monotonicNs() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    const uint64_t c = static_cast<uint64_t>(count.QuadPart), f = static_cast<uint64_t>(frequency.QuadPart);
    const uint64_t ns = c / f * 1000000000ull + c % f * 1000000000ull / f;
    return static_cast<uint64_t>(static_cast<int64_t>(ns) + g_aheadNs);
}

std::string bootId() {
    return g_bootId;
}

void setHostClock(const std::string& boot, int64_t aheadNs) {
    g_bootId = boot;
    g_aheadNs = aheadNs;
}

bool entryKind(const std::string& path, bool* directory) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;  // no symbolic links to keep apart
    *directory = S_ISDIR(st.st_mode);
    return true;
}

std::string hostPath(const std::string& path) {
    return !path.empty() && path[0] == '/' ? "Z:" + path : path;
}

#else

int openFile(const std::string& path, Open how) {
    int flags = O_CLOEXEC;
    flags |= how == Open::Read              ? O_RDONLY
             : how == Open::ReadWriteCreate ? O_RDWR | O_CREAT
                                            : O_WRONLY | O_CREAT | O_TRUNC;
    return ::open(path.c_str(), flags, 0644);
}

long long writeAt(int fd, const void* bytes, size_t len, uint64_t offset) {
    return pwrite(fd, bytes, len, static_cast<off_t>(offset));
}

long long readAt(int fd, void* bytes, size_t len, uint64_t offset) {
    return pread(fd, bytes, len, static_cast<off_t>(offset));
}

FILE* openAppend(const std::string& path) {
    return fopen(path.c_str(), "ae");
}

bool fileSize(int fd, uint64_t* size) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool truncateFile(int fd, uint64_t size) {
    return ftruncate(fd, static_cast<off_t>(size)) == 0;
}

bool fileUnlinked(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_nlink == 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

bool makeDir(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0;
}

int processId() {
    return static_cast<int>(getpid());
}

bool tryLock(int fd, bool exclusive) {
    return flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
}

uint64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

std::string bootId() {
    std::string boot;
    readFile("/proc/sys/kernel/random/boot_id", &boot, nullptr);
    while (!boot.empty() && (boot.back() == '\n' || boot.back() == ' ')) boot.pop_back();
    return boot;
}

bool entryKind(const std::string& path, bool* directory) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return false;
    *directory = S_ISDIR(st.st_mode);
    return true;
}

std::string hostPath(const std::string& path) {
    return path;
}

#endif

bool pathExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

}  // namespace sys
}  // namespace sim
