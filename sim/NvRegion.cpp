#include "NvRegion.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Platform.h"

namespace sim {
namespace {

// Writes the whole buffer with one pwrite; loops only when the system
// reports a short write or an interruption, which a regular file does not
// do in practice.
bool writeAll(int fd, const uint8_t* bytes, size_t len, uint64_t offset) {
    while (len > 0) {
        long long n = sys::writeAt(fd, bytes, len, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        len -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool readAll(int fd, uint8_t* bytes, size_t len) {
    uint64_t offset = 0;
    while (len > 0) {
        long long n = sys::readAt(fd, bytes, len, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        bytes += n;
        len -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

NvRegion::~NvRegion() {
    if (m_fd >= 0) close(m_fd);
}

bool NvRegion::open(const std::string& path, size_t size, uint8_t fill, std::string* error) {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    auto fail = [&](const char* what) {
        if (error) *error = path + ": " + what + ": " + strerror(errno);
        return false;
    };
    int fd = sys::openFile(path, sys::Open::ReadWriteCreate);
    if (fd < 0) return fail("cannot open");
    uint64_t fileBytes = 0;
    if (!sys::fileSize(fd, &fileBytes)) {
        int saved = errno;
        close(fd);
        errno = saved;
        return fail("cannot stat");
    }
    std::vector<uint8_t> data(size, fill);
    size_t have = static_cast<size_t>(std::min<uint64_t>(fileBytes, size));
    if (have > 0 && !readAll(fd, data.data(), have)) {
        int saved = errno;
        close(fd);
        errno = saved;
        return fail("cannot read");
    }
    // A new file, or one of another size (the part was exchanged): bring the
    // file to the part's size, new bytes holding `fill`.
    if (fileBytes != size) {
        if (!sys::truncateFile(fd, have) || !writeAll(fd, data.data() + have, size - have, have)) {
            int saved = errno;
            close(fd);
            errno = saved;
            return fail("cannot write");
        }
    }
    m_data.swap(data);
    m_fd = fd;
    m_path = path;
    m_fault.clear();
    return true;
}

void NvRegion::init(size_t size, uint8_t fill) {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    m_data.assign(size, fill);
}

void NvRegion::write(size_t offset, const void* bytes, size_t len) {
    if (offset > m_data.size() || len > m_data.size() - offset) {
        // A model writing outside its part is a bug in the model.
        fprintf(stderr, "NvRegion: write of %zu bytes at %zu outside a region of %zu bytes\n", len, offset,
                m_data.size());
        abort();
    }
    if (len == 0) return;
    memcpy(m_data.data() + offset, bytes, len);
    if (m_fd >= 0 && !writeAll(m_fd, m_data.data() + offset, len, offset) && m_fault.empty())
        m_fault = m_path + ": cannot write: " + strerror(errno);
}

void NvRegion::fill(uint8_t value) {
    std::fill(m_data.begin(), m_data.end(), value);
    if (m_fd >= 0 && !m_data.empty() && !writeAll(m_fd, m_data.data(), m_data.size(), 0) && m_fault.empty())
        m_fault = m_path + ": cannot write: " + strerror(errno);
}

bool NvRegion::intactOrWhy(std::string* why, bool lookAtFile) const {
    if (lookAtFile && m_fault.empty() && m_fd >= 0) {
        // A file with no name left is written to no one.
        if (sys::fileUnlinked(m_fd)) {
            if (why) *why = m_path + ": removed while in use";
            return false;
        }
    }
    if (m_fault.empty()) return true;
    if (why) *why = m_fault;
    return false;
}

}  // namespace sim
