// The one place where the simulator's Linux and Windows builds differ: file
// access (positioned writes that reach the file at once, replacing a file,
// directories), the machine's monotonic clock and its boot, and how a path
// of the Linux file system is named to a Windows program under Wine. The
// Windows build is the program for simulated cards, which Wine runs on the
// same Linux machine as `vjxsim`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {
namespace sys {

// File descriptors in binary mode, not handed to child processes.
enum class Open { Read, ReadWriteCreate, WriteCreateTruncate };
int openFile(const std::string& path, Open how);
// One positioned write or read; bytes done, or -1 with errno set.
long long writeAt(int fd, const void* bytes, size_t len, uint64_t offset);
long long readAt(int fd, void* bytes, size_t len, uint64_t offset);
bool fileSize(int fd, uint64_t* size);
// A stream appending to `path` (created when missing), bytes as written
// (no line-end translation).
FILE* openAppend(const std::string& path);
bool truncateFile(int fd, uint64_t size);
// Whether the open file has lost its last name (its directory was removed).
bool fileUnlinked(int fd);
// Renames `from` over `to` in one step: a reader sees the old or the new file.
bool replaceFile(const std::string& from, const std::string& to);
bool makeDir(const std::string& path);
bool pathExists(const std::string& path);
// Whether `path` names something (not following a symbolic link), and
// whether that is a directory.
bool entryKind(const std::string& path, bool* directory);
int processId();
// Takes a lock on the open file without waiting (false when another
// process holds one that excludes it); the system drops it when the file is
// closed or the process ends in any way.
bool tryLock(int fd, bool exclusive);

// The machine's monotonic clock in nanoseconds, which every process of one
// boot shares, and that boot's ID (empty when unknown).
uint64_t monotonicNs();
std::string bootId();
#ifdef _WIN32
// Under Wine the process counter is the machine's raw monotonic clock;
// `vjxsim run` hands on how far the monotonic clock is ahead of it and the
// boot, so that both kinds of program keep busy periods on one clock.
void setHostClock(const std::string& bootId, int64_t monotonicAheadOfRawNs);
#endif

// A path of the Linux file system as this program names it ("/x" is
// "Z:/x" to a Windows program, Wine's drive for the root).
std::string hostPath(const std::string& path);

}  // namespace sys
}  // namespace sim
