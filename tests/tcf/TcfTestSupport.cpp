#include "TcfTestSupport.h"

#include <gtest/gtest.h>

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

Bytes BridgeEeprom(unsigned char tag) {
    return {0x5A, 0x03, 0x18, 0x00, 0x34, 0x00, 0x50, 0x00, 0x00, 0x00, 0x48, 0x00, 0x02, 0x00, 0x00, 0x00,
            0x00, 0x10, 0x33, 0x00, 0x00, 0x00, 0x20, 0x10, tag,  0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};
}

tcf::SegmentData PatternSegment(uint16_t address, size_t length, unsigned seed) {
    tcf::SegmentData seg;
    seg.address = address;
    seg.data.resize(length);
    for (size_t i = 0; i < length; ++i) seg.data[i] = static_cast<unsigned char>((i * 7 + seed) % 251);
    return seg;
}

}  // namespace tcftest
