#include "FileUtil.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {
namespace {

bool fail(std::string* error, const std::string& what) {
    if (error) *error = what + ": " + strerror(errno);
    return false;
}

}  // namespace

bool writeFileAtomic(const std::string& path, const std::string& content, std::string* error) {
    std::string temp = path + ".tmp." + std::to_string(getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail(error, "cannot create " + temp);
    const char* p = content.data();
    size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
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
    if (rename(temp.c_str(), path.c_str()) != 0) {
        int saved = errno;
        unlink(temp.c_str());
        errno = saved;
        return fail(error, "cannot rename " + temp);
    }
    return true;
}

bool readFile(const std::string& path, std::string* content, std::string* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(error, "cannot open " + path);
    content->clear();
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
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
    if (mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && isDirectory(path))) return true;
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
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
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
