// Firmware input of the writer (Intel HEX, raw binary, cutting into
// blocks) and the hexadecimal field reader.
#include <gtest/gtest.h>

#include "TcfTestSupport.h"
#include "tcf/IntelHex.h"
#include "tcf/Tcf.h"
#include "tcf/TcfWriter.h"

using tcftest::Bytes;

namespace {

TEST(GetHex, ReadsAFieldOfTheGivenWidthAtThePosition) {
    CTcf tcf;
    EXPECT_EQ(tcf.getHex(":10400000", 3, 4), 0x4000);
    EXPECT_EQ(tcf.getHex(":10400000", 1, 2), 0x10);
    EXPECT_EQ(tcf.getHex("xx7fFFffFF", 2, 8), 0x7FFFFFFF);
    EXPECT_EQ(tcf.getHex("ABCDEF", 4, 2), 0xEF);
    EXPECT_EQ(tcf.getHex("12345", 0, 3), 0x123);  // the rest of the text is not read
    EXPECT_EQ(tcf.getHex("AB", 1, 8), 0xB);       // a field running past the text
}

TEST(GetHex, AnswersMinusOneWhenNoNumberCanBeRead) {
    CTcf tcf;
    EXPECT_EQ(tcf.getHex("zz12", 0, 2), -1);
    EXPECT_EQ(tcf.getHex("", 0, 2), -1);
    EXPECT_EQ(tcf.getHex("12", 5, 2), -1);  // position behind the text
    EXPECT_EQ(tcf.getHex("12", 0, 0), -1);
    EXPECT_EQ(tcf.getHex("123456789", 0, 9), -1);  // wider than a field can be
    EXPECT_EQ(tcf.getHex(nullptr, 0, 2), -1);
}

// An Intel HEX record with its checksum.
std::string Record(unsigned type, unsigned address, const Bytes& data) {
    char text[16];
    std::string line = ":";
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    std::snprintf(text, sizeof text, "%02X%04X%02X", static_cast<unsigned>(data.size()), address, type);
    line += text;
    for (unsigned char b : data) {
        std::snprintf(text, sizeof text, "%02X", b);
        line += text;
        sum += b;
    }
    std::snprintf(text, sizeof text, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text + "\r\n";
}

const std::string kEof = ":00000001FF\n";

TEST(IntelHex, PlacesDataRecordsWithSegmentAndLinearBases) {
    const std::string text = Record(0x00, 0x0010, {0x01, 0x02}) +
                             Record(0x02, 0, {0x04, 0x00}) +                                 // base 0x4000
                             Record(0x00, 0x0001, {0x03}) + Record(0x04, 0, {0x00, 0x00}) +  // base 0
                             Record(0x00, 0xFFFF, {0x04}) + Record(0x05, 0, {0, 0, 0, 0}) + "\n" + kEof;
    Bytes image;
    std::string error;
    ASSERT_TRUE(tcf::ParseIntelHex(text, &image, &error)) << error;
    ASSERT_EQ(image.size(), 0x10000u);
    EXPECT_EQ(image[0x10], 0x01);
    EXPECT_EQ(image[0x11], 0x02);
    EXPECT_EQ(image[0x4001], 0x03);
    EXPECT_EQ(image[0xFFFF], 0x04);
    EXPECT_EQ(image[0x12], 0xFF);
}

TEST(IntelHex, RefusesBrokenOrUnreachableInput) {
    struct Case {
        std::string text;
        const char* what;
    };
    std::string badSum = Record(0x00, 0, {0x12});
    badSum[9] = badSum[9] == '0' ? '1' : '0';
    const Case cases[] = {
        {badSum + kEof, "checksum"},
        {Record(0x00, 0xFFFF, {1, 2}) + kEof, "beyond"},
        {Record(0x04, 0, {0x00, 0x01}) + Record(0x00, 0, {1}) + kEof, "beyond"},
        {Record(0x00, 0, {1}), "end-of-file"},
        {"10000000\n" + kEof, "':'"},
        {":0100000001\n" + kEof, "length"},
        {":0G00000000\n" + kEof, "hexadecimal"},
        {Record(0x07, 0, {}) + kEof, "type"},
    };
    for (const Case& c : cases) {
        Bytes image;
        std::string error;
        EXPECT_FALSE(tcf::ParseIntelHex(c.text, &image, &error)) << c.text;
        EXPECT_NE(error.find(c.what), std::string::npos) << error;
    }
}

TEST(IntelHex, IsToldApartFromRawBinary) {
    EXPECT_TRUE(tcf::LooksLikeIntelHex(Record(0x00, 0, {1}) + kEof));
    EXPECT_FALSE(tcf::LooksLikeIntelHex(std::string("\x02\x00\x10", 3)));
    EXPECT_FALSE(tcf::LooksLikeIntelHex(std::string(":\x01\x02", 3)));
    EXPECT_FALSE(tcf::LooksLikeIntelHex(""));
}

TEST(RawFirmware, FillsFromAddressZeroAndRefusesMoreThan64KiB) {
    Bytes image;
    std::string error;
    ASSERT_TRUE(tcf::LoadRawFirmware(std::string("\x01\x02", 2), &image, &error));
    EXPECT_EQ(image.size(), 0x10000u);
    EXPECT_EQ(image[1], 0x02);
    EXPECT_EQ(image[2], 0xFF);
    EXPECT_FALSE(tcf::LoadRawFirmware(std::string(0x10001, '\0'), &image, &error));
}

TEST(CutFirmware, OneSegmentPerBlockWithDataEndingAtItsLastNonErasedByte) {
    Bytes image(0x10000, 0xFF);
    image[0x0000] = 0x11;
    image[0x0005] = 0x22;          // block 0: six bytes, 0x11 .. 0x22
    image[0x8000 + 16367] = 0x33;  // block 2: a full 16368 bytes
    std::vector<tcf::SegmentData> segs;
    std::string error;
    ASSERT_TRUE(tcf::CutFirmware(image, &segs, &error)) << error;
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_EQ(segs[0].address, 0x0000);
    EXPECT_EQ(segs[0].data, Bytes({0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0x22}));
    EXPECT_EQ(segs[1].address, 0x8000);
    EXPECT_EQ(segs[1].data.size(), 16368u);
    EXPECT_EQ(segs[1].data.back(), 0x33);
}

TEST(CutFirmware, RefusesDataInTheLast16BytesOfABlock) {
    for (size_t at : {size_t{0x3FF0}, size_t{0x3FFF}, size_t{0xFFF5}}) {
        Bytes image(0x10000, 0xFF);
        image[at] = 0x00;
        std::vector<tcf::SegmentData> segs;
        std::string error;
        EXPECT_FALSE(tcf::CutFirmware(image, &segs, &error)) << at;
        EXPECT_NE(error.find("last 16 bytes"), std::string::npos) << error;
    }
}

TEST(CheckContent, RefusesWhatTheFlashCommandCouldNotUse) {
    tcf::FileContent good;
    good.module = 84;
    std::string error;
    ASSERT_TRUE(tcf::CheckContent(good, &error)) << error;

    auto refused = [](tcf::FileContent c, const char* what) {
        std::string e;
        EXPECT_FALSE(tcf::CheckContent(c, &e)) << what;
        EXPECT_NE(e.find(what), std::string::npos) << e;
    };
    tcf::FileContent c = good;
    c.module = 0x64;
    refused(c, "Module code");
    c = good;
    c.eeprom = Bytes(6, 0);
    refused(c, "32-bit");
    c.eeprom = Bytes(144, 0);
    refused(c, "at most 140");
    c = good;
    c.pcieEeprom = Bytes(33, 0);  // one EEPROM page is all one write takes
    refused(c, "at most 32");
    c = good;
    c.fpga = Bytes(10, 0);
    refused(c, "needs firmware");
    c = good;
    c.segments = {tcftest::PatternSegment(0, 10)};
    refused(c, "needs an FPGA image");
}

}  // namespace
