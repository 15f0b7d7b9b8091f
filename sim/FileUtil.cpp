#include "FileUtil.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Platform.h"

namespace sim {
namespace {

bool fail(std::string* error, const std::string& what) {
    if (error) *error = what + ": " + strerror(errno);
    return false;
}

}  // namespace

bool writeFileAtomic(const std::string& path, const std::string& content, std::string* error) {
    std::string temp = path + ".tmp." + std::to_string(sys::processId());
    int fd = sys::openFile(temp, sys::Open::WriteCreateTruncate);
    if (fd < 0) return fail(error, "cannot create " + temp);
    const char* p = content.data();
    size_t left = content.size();
    while (left > 0) {
        long long n = ::write(fd, p, static_cast<unsigned>(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            close(fd);
            unlink(temp.c_str());
            errno = saved;
            return fail(error, "cannot write " + temp);
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    close(fd);
    if (!sys::replaceFile(temp, path)) {
        int saved = errno;
        unlink(temp.c_str());
        errno = saved;
        return fail(error, "cannot rename " + temp);
    }
    return true;
}

bool readFile(const std::string& path, std::string* content, std::string* error) {
    int fd = sys::openFile(path, sys::Open::Read);
    if (fd < 0) return fail(error, "cannot open " + path);
    content->clear();
    char buf[8192];
    for (;;) {
        long long n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            close(fd);
            errno = saved;
            return fail(error, "cannot read " + path);
        }
        if (n == 0) break;
        content->append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

bool makeDirectory(const std::string& path, std::string* error) {
    if (sys::makeDir(path) || (errno == EEXIST && isDirectory(path))) return true;
    return fail(error, "cannot create directory " + path);
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool directoryIsEmpty(const std::string& path) {
    DIR* d = opendir(path.c_str());
    if (!d) return false;
    bool empty = true;
    while (dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    closedir(d);
    return empty;
}

void removeTree(const std::string& path) {
    bool directory = false;
    if (!sys::entryKind(path, &directory)) return;
    if (directory) {
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d)) {
                if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
                removeTree(path + "/" + e->d_name);
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

}  // namespace sim
