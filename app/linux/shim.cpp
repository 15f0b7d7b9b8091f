// The Linux shim's strings, files, windows and message boxes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "afx.h"

int CFile::Open(const char* path, unsigned mode) {
    if (m_stream.is_open()) m_stream.close();
    m_stream.clear();
    std::ios::openmode om{};
    if (mode & modeTruncate) om |= std::ios::trunc;
    if (mode & modeWrite) om |= std::ios::out;
    if (mode & modeRead) om |= std::ios::in;
    if (mode & typeBinary) om |= std::ios::binary;
    if (!path) return 0;

    // Only a regular file is a file here: a directory, a device or a FIFO
    // is refused, and at once (opening a FIFO for reading would wait for a
    // writer). The path is opened without blocking and looked at through
    // that descriptor; the stream then opens the very same file through it,
    // so nothing can be swapped in between. The file is created only where
    // the stream itself would create it.
    const bool write = (mode & modeWrite) != 0;
    const bool read = (mode & modeRead) != 0;
    int flags = O_NONBLOCK | O_CLOEXEC | (write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY);
    if (write && (!read || (mode & modeTruncate))) flags |= O_CREAT;
    const int fd = ::open(path, flags, 0666);
    if (fd < 0) return 0;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        m_stream.open("/proc/self/fd/" + std::to_string(fd), om);
        // Without /proc the path is all there is.
        if (!m_stream.is_open()) {
            m_stream.clear();
            m_stream.open(path, om);
        }
    }
    ::close(fd);
    return m_stream.is_open() && m_stream.good() ? 1 : 0;
}

unsigned CFile::Read(void* buffer, unsigned count) {
    m_stream.read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
    // All or nothing: a short read leaves the stream failed and answers 0.
    if (!m_stream || m_stream.gcount() != static_cast<std::streamsize>(count)) return 0;
    return count;
}

void CFile::Write(const void* buffer, unsigned count) {
    m_stream.write(static_cast<const char*>(buffer), static_cast<std::streamsize>(count));
}

void CFile::Seek(int64_t offset, int origin) {
    std::ios::seekdir dir = origin == 1 ? std::ios::cur : origin == 2 ? std::ios::end : std::ios::beg;
    // The file buffer keeps one position for reading and writing, so one
    // seek moves both. A failed stream ignores the seek.
    m_stream.seekg(static_cast<std::streamoff>(offset), dir);
}

int64_t CFile::GetPosition() {
    return static_cast<int64_t>(m_stream.tellg());
}

void CFile::Close() {
    if (m_stream.is_open()) m_stream.close();
    m_stream.clear();
}

int CFile::GetStatus(const char* path, CFileStatus& status) {
    status.m_size = 0;
    struct stat st;
    if (!path || ::stat(path, &st) != 0) return 0;
    status.m_size = static_cast<int64_t>(st.st_size);
    return 1;
}

void CWnd::OnCancel() {
    std::exit(2);
}

void MessageBeep(unsigned) {}

int MessageBox(const char*, const char*, unsigned) {
    return 0;
}

int AfxMessageBox(const char* text, unsigned, unsigned) {
    return MessageBox(text, nullptr, 1);
}

void pumpMessage() {}
