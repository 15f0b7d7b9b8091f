// The parts of the Windows framework layer that need no window, built for
// the program and for the native test build alike: CFile over the C
// runtime's streams (the program opens with the share mode the flags ask
// for; the native build has no share modes), the dialog's default message
// map, and the file dialog's filter.
#include <cstdio>

#include "afxshim.h"

#if defined(_WIN32)
#include <share.h>
#endif

namespace {

const char* StreamMode(unsigned flags) {
    const unsigned access = flags & 0x3;
    if (access == CFile::modeWrite) return (flags & CFile::modeCreate) ? "wb" : "r+b";
    if (access == CFile::modeReadWrite) return (flags & CFile::modeCreate) ? "w+b" : "r+b";
    return "rb";
}

std::FILE* OpenStream(const char* path, unsigned flags) {
#if defined(_WIN32)
    int share = _SH_DENYNO;
    switch (flags & 0x70) {
        case CFile::shareExclusive:
            share = _SH_DENYRW;
            break;
        case CFile::shareDenyWrite:
            share = _SH_DENYWR;
            break;
        case CFile::shareDenyRead:
            share = _SH_DENYRD;
            break;
        default:
            break;
    }
    return _fsopen(path, StreamMode(flags), share);
#else
    return std::fopen(path, StreamMode(flags));
#endif
}

}  // namespace

CFile::~CFile() {
    Close();
}

int CFile::Open(const char* path, unsigned flags) {
    Close();
    if (!path || !*path) return 0;
    m_file = OpenStream(path, flags);
    return m_file != nullptr ? 1 : 0;
}

unsigned CFile::Read(void* buffer, unsigned count) {
    if (!m_file) return 0;
    const size_t got = std::fread(buffer, 1, count, m_file);
    return got == count ? count : 0;
}

void CFile::Write(const void* buffer, unsigned count) {
    if (m_file) std::fwrite(buffer, 1, count, m_file);
}

int64_t CFile::Seek(int64_t offset, int origin) {
    if (!m_file) return -1;
    const int whence = origin == current ? SEEK_CUR : origin == end ? SEEK_END : SEEK_SET;
    std::clearerr(m_file);
#if defined(_WIN32)
    if (_fseeki64(m_file, offset, whence) != 0) return -1;
#else
    if (fseeko(m_file, static_cast<off_t>(offset), whence) != 0) return -1;
#endif
    return GetPosition();
}

int64_t CFile::GetPosition() {
    if (!m_file) return -1;
#if defined(_WIN32)
    return _ftelli64(m_file);
#else
    return static_cast<int64_t>(ftello(m_file));
#endif
}

void CFile::Close() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
}

CFileDialog::CFileDialog(int openFileDialog, const char* defaultExt, const char* fileName, unsigned flags,
                         const char* filter, CWnd* parent)
    : m_open(openFileDialog),
      m_defaultExt(defaultExt),
      m_fileName(fileName),
      m_flags(flags),
      m_platformFilter(ToPlatformFilter(filter)),
      m_parent(parent) {}

std::string CFileDialog::ToPlatformFilter(const char* filter) {
    std::string out = filter ? filter : "";
    for (char& c : out)
        if (c == '|') c = '\0';
    // The list ends with an empty text even when the filter lacks "||".
    while (out.size() < 2 || out[out.size() - 1] != '\0' || out[out.size() - 2] != '\0') out.push_back('\0');
    return out;
}

int CDialog::OnInitDialog() {
    CDataExchange dx(this);
    DoDataExchange(&dx);
    return 1;
}

bool CDialog::OnCommand(unsigned id, unsigned) {
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

bool CDialog::OnSysCommand(unsigned, intptr_t) {
    return false;
}
