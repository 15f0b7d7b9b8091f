#include "TcfTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tcf/Crc.h"
#include "tcf/Tcf.h"

namespace tcftest {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tcftest.XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char* dir = ::mkdtemp(buffer.data());
    if (dir == nullptr) ADD_FAILURE() << "mkdtemp failed";
    m_dir = dir ? dir : "/tmp";
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

std::string TempDir::write(const std::string& name, const Bytes& bytes) const {
    const std::string p = path(name);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "can't write " << p;
    return p;
}

std::string TempDir::writeText(const std::string& name, const std::string& text) const {
    return write(name, Bytes(text.begin(), text.end()));
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

CapturedLog::CapturedLog() : m_file(std::tmpfile()), m_log(m_file) {
    if (m_file == nullptr) ADD_FAILURE() << "tmpfile failed";
}

CapturedLog::~CapturedLog() {
    if (m_file) std::fclose(m_file);
}

std::string CapturedLog::text() const {
    std::string all;
    if (!m_file) return all;
    std::fflush(m_file);
    std::rewind(m_file);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0) all.append(buffer, n);
    std::fseek(m_file, 0, SEEK_END);
    return all;
}

std::vector<std::string> CapturedLog::errors() const {
    static const std::string kBanner = "------------------- Error -------------------\n";
    static const std::string kEnd = "\n---------------------------------------------";
    std::vector<std::string> found;
    const std::string all = text();
    size_t pos = 0;
    while ((pos = all.find(kBanner, pos)) != std::string::npos) {
        pos += kBanner.size();
        const size_t end = all.find(kEnd, pos);
        if (end == std::string::npos) break;
        found.push_back(all.substr(pos, end - pos));
        pos = end + kEnd.size();
    }
    return found;
}

Bytes MinimalFile(int module) {
    tcf::FileContent content;
    content.module = module;
    return Build(content);
}

Bytes Build(const tcf::FileContent& content) {
    Bytes file;
    std::string error;
    EXPECT_TRUE(tcf::BuildFile(content, &file, &error)) << error;
    return file;
}

void SealHeader(Bytes& file) {
    CCrc8::Calc(file.data(), tcf::kHeaderSize);
}

void SealSegmentHeader(Bytes& file, size_t offset) {
    CCrc8::Calc(file.data() + offset, tcf::kSegHeaderSize);
}

tcf::SegmentData PatternSegment(uint16_t address, size_t length, unsigned seed) {
    tcf::SegmentData seg;
    seg.address = address;
    seg.data.resize(length);
    for (size_t i = 0; i < length; ++i) seg.data[i] = static_cast<unsigned char>((i * 7 + seed) % 251);
    return seg;
}

}  // namespace tcftest
