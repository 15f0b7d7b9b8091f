// The Linux shim's strings, files, windows and message boxes.
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

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
    m_stream.open(path, om);
    // A directory opens as a stream on Linux, but it is no file.
    struct stat st;
    if (m_stream.is_open() && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode)) m_stream.close();
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
