// Shared helpers of the update-file tests: files in a private temporary
// directory, a log captured in a temporary stream, and small file builders.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/LogWindow.h"
#include "tcf/TcfWriter.h"

namespace tcftest {

using Bytes = std::vector<unsigned char>;

// A directory removed with its files at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path(const std::string& name) const { return m_dir + "/" + name; }
    // Writes bytes to a file in the directory and answers its path.
    std::string write(const std::string& name, const Bytes& bytes) const;
    std::string writeText(const std::string& name, const std::string& text) const;

private:
    std::string m_dir;
};

Bytes ReadAll(const std::string& path);

// A log writing into a temporary stream; text() answers everything so far.
class CapturedLog {
public:
    CapturedLog();
    ~CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    CLogWindow* log() { return &m_log; }
    std::string text() const;
    // The texts inside every error frame, in order.
    std::vector<std::string> errors() const;

private:
    std::FILE* m_file;
    CLogWindow m_log;
};

// A well-formed file for module 84 with no images and no segments.
Bytes MinimalFile(int module = 84);
// Builds content with BuildFile; fails the test when the writer refuses.
Bytes Build(const tcf::FileContent& content);
// Recomputes the header CRC (byte 255) after a header has been changed.
void SealHeader(Bytes& file);
// Recomputes the CRC of the segment header at `offset`.
void SealSegmentHeader(Bytes& file, size_t offset);
// Firmware segment of `length` bytes of a counting pattern that never ends
// in 0xFF, at block address `address`.
tcf::SegmentData PatternSegment(uint16_t address, size_t length, unsigned seed = 1);

}  // namespace tcftest
