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
