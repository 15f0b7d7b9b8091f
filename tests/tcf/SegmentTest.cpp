// The segment chain: each segment's checks, the padding, the length limit
// and the continuation words.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "TcfTestSupport.h"
#include "tcf/Crc.h"
#include "tcf/Tcf.h"

using tcftest::Bytes;

namespace {

class Segments : public ::testing::Test {
protected:
    // A file with an FPGA image and the given segments.
    Bytes fileWith(const std::vector<tcf::SegmentData>& segments) {
        tcf::FileContent content;
        content.module = 84;
        content.fpga = Bytes(64, 0x5A);
        content.segments = segments;
        return tcftest::Build(content);
    }
    // Runs the validation from offset 256; the log's error texts are in
    // log.errors().
    int validate(const Bytes& file) {
        CFile f;
        EXPECT_TRUE(f.Open(dir.write("s.tcf", file).c_str(), CFile::modeRead | CFile::typeBinary));
        f.Seek(256, 0);
        count = -1;
        return tcf::ValidateSegments(f, &log.log(), record.get(), &count);
    }
    // Offset of segment `index` (0-based) in a file built by fileWith.
    static size_t segmentOffset(const std::vector<tcf::SegmentData>& segments, size_t index) {
        size_t at = 256;
        for (size_t i = 0; i < index; ++i) at += 16 + segments[i].data.size();
        return at;
    }

    tcftest::TempDir dir;
    tcftest::CapturedLog log;
    std::unique_ptr<TTcfSmall> record = std::make_unique<TTcfSmall>();
    int count = -1;
};

TEST_F(Segments, AGoodChainIsCountedAndTheLastBlockIsPaddedWith0xFF) {
    const std::vector<tcf::SegmentData> segs = {tcftest::PatternSegment(0x0000, 16368, 1),
                                                tcftest::PatternSegment(0x4000, 300, 2),
                                                tcftest::PatternSegment(0xC000, 1, 3)};
    std::memset(record.get(), 0x00, sizeof(TTcfSmall));  // padding must not depend on what was there
    ASSERT_EQ(validate(fileWith(segs)), 1) << log.text();
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(log.errors().empty());
    // The record holds the last segment: one data byte, then 0xFF.
    EXPECT_EQ(record->block[0], segs[2].data[0]);
    for (size_t i = 1; i < tcf::kBlockSize; ++i) ASSERT_EQ(record->block[i], 0xFF) << "byte " << i;
    EXPECT_EQ(record->segHeader[tcf::kSegOffNumber], 3);
    EXPECT_EQ(tcf::getBE16(record->segHeader + tcf::kSegOffAddress), 0xC000);
}

TEST_F(Segments, ALengthAboveTheBlockIsRefusedWithoutTouchingTheRecordBeyondIt) {
    for (uint16_t length : {uint16_t{16369}, uint16_t{0xFFFF}}) {
        // Enough data behind the header that a read of `length` would succeed.
        Bytes file = fileWith({tcftest::PatternSegment(0, 100)});
        tcf::putBE16(file.data() + 256 + tcf::kSegOffLength, length);
        tcftest::SealSegmentHeader(file, 256);
        file.resize(256 + 16 + 0x10000, 0x00);
        const Bytes header(file.begin() + 256, file.begin() + 256 + 16);
        std::memset(record->block, 0xA5, sizeof record->block);
        tcftest::CapturedLog each;
        CFile f;
        ASSERT_TRUE(f.Open(dir.write("long.tcf", file).c_str(), CFile::modeRead | CFile::typeBinary));
        f.Seek(256, 0);
        EXPECT_EQ(tcf::ValidateSegments(f, &each.log(), record.get(), &count), 0);
        ASSERT_EQ(each.errors().size(), 1u);
        EXPECT_EQ(each.errors()[0], "Flash update segment is larger than a flash-ROM block");
        EXPECT_EQ(Bytes(record->segHeader, record->segHeader + 16), header) << "length " << length;
        EXPECT_EQ(record->block[0], 0xA5) << "nothing read into the block area";
    }
}

TEST_F(Segments, TheChainEndsAtTheFirstZeroContinuation) {
    std::vector<tcf::SegmentData> segs = {tcftest::PatternSegment(0, 40), tcftest::PatternSegment(0x4000, 40),
                                          tcftest::PatternSegment(0x8000, 40)};
    Bytes file = fileWith(segs);
    const size_t second = segmentOffset(segs, 1);
    tcf::putBE16(file.data() + second + tcf::kSegOffContinue, 0);
    tcftest::SealSegmentHeader(file, second);
    // What follows the end of the chain is not looked at.
    file[segmentOffset(segs, 2) + 3] ^= 0xFF;
    ASSERT_EQ(validate(file), 1) << log.text();
    EXPECT_EQ(count, 2);
}

// A chain broken in one place: the first failing check names it.
TEST_F(Segments, ABrokenChainIsRefusedWithTheFailingCheck) {
    using Segs = std::vector<tcf::SegmentData>;
    const Segs one = {tcftest::PatternSegment(0, 40)};
    const Segs two = {tcftest::PatternSegment(0x0000, 500, 1), tcftest::PatternSegment(0x4000, 16368, 2)};
    const struct {
        const char* what;
        Segs segs;
        std::function<void(Bytes&, const Segs&)> change;
        const char* message;
    } cases[] = {
        {"zero length", one,
         [](Bytes& f, const Segs&) {
             tcf::putBE16(f.data() + 256 + tcf::kSegOffLength, 0);
             tcftest::SealSegmentHeader(f, 256);
         },
         "Can't read flash update data"},
        {"data cut short by the end of the file", one, [](Bytes& f, const Segs&) { f.resize(256 + 16 + 39); },
         "Can't read flash update data"},
        {"bad block CRC in the first segment", two, [](Bytes& f, const Segs&) { f[256 + 16 + 499] ^= 0x01; },
         "Checksum in flash update segment is wrong"},
        {"bad block CRC in the second segment", two,
         [](Bytes& f, const Segs& s) { f[segmentOffset(s, 1) + 16 + 16367] ^= 0x01; },
         "Checksum in flash update segment is wrong"},
        // The block CRC covers the padding too: a CRC over the bare data
        // bytes must not pass.
        {"block CRC over the unpadded data", one,
         [](Bytes& f, const Segs& s) {
             uint8_t reg = 0xFF;
             for (unsigned char b : s[0].data) reg = CCrc8::Update(reg, b);
             f[256 + tcf::kSegOffBlockCrc] = reg;
             tcftest::SealSegmentHeader(f, 256);
         },
         "Checksum in flash update segment is wrong"},
        {"bad segment header CRC", two,
         [](Bytes& f, const Segs& s) { f[segmentOffset(s, 1) + tcf::kSegOffAddress] ^= 0x80; },
         "Checksum in flash update segment header is wrong"},
        {"continuation with nothing behind it", one,
         [](Bytes& f, const Segs&) {
             tcf::putBE16(f.data() + 256 + tcf::kSegOffContinue, 0x0100);  // either byte counts
             tcftest::SealSegmentHeader(f, 256);
             f.resize(256 + 16 + 40);  // drop the FPGA image behind the chain
         },
         "Can't read flash update segment header"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = fileWith(c.segs);
        c.change(file, c.segs);
        const size_t before = log.errors().size();
        EXPECT_EQ(validate(file), 0);
        const auto errors = log.errors();
        ASSERT_EQ(errors.size(), before + 1) << log.text();
        EXPECT_EQ(errors.back(), c.message);
    }
}

}  // namespace
