// Firmware input of the writer (Intel HEX, recognising what is no
// firmware); raw binary and the cutting into blocks through tcftool.
#include <gtest/gtest.h>

#include "TcfTestSupport.h"
#include "tcf/IntelHex.h"
#include "tcf/Tcf.h"
#include "tcf/TcfWriter.h"

using tcftest::Bytes;

namespace {

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

TEST(IntelHex, RefusesBrokenOrUnreachableInputWithTheLineNumber) {
    struct Case {
        std::string text;
        const char* what;
    };
    std::string badSum = Record(0x00, 0, {0x12});
    badSum[9] = badSum[9] == '0' ? '1' : '0';
    const std::string one = Record(0x00, 0, {1});
    const Case cases[] = {
        {badSum + kEof, "line 1: record checksum"},
        {one + Record(0x00, 0xFFFF, {1, 2}) + kEof, "line 2: data at 0x10000 lies beyond"},
        {Record(0x04, 0, {0x00, 0x01}) + one + kEof, "line 2: data at 0x10000"},
        {one, "no end-of-file"},
        {"\n10000000\n" + kEof, "line 2: record does not start with ':' but with '1'"},
        {":0100000001\n" + kEof, "line 1: record length"},
        {one + ":0100\t000001FE\n" + kEof, "line 2: byte 0x09 in column 6 is not a hexadecimal digit"},
        {one + one + ":0100000002FD\n" + kEof,
         "line 3: data at 0x0000 (0x02) overlaps line 1, which gave 0x01"},
        {Record(0x07, 0, {}) + kEof, "line 1: unknown record type 7"},
        {one + kEof + one, "line 3: text after the end-of-file record"},
        {"\xEF\xBB\xBF" + one + kEof, "line 1: the file starts with a UTF-8 byte-order mark"},
        {one + "\x1A" + kEof, "line 2: record does not start with ':' but with byte 0x1A"},
    };
    for (const Case& c : cases) {
        Bytes image;
        std::string error;
        EXPECT_FALSE(tcf::ParseIntelHex(c.text, &image, &error)) << c.text;
        EXPECT_NE(error.find(c.what), std::string::npos) << error;
    }
}

// (The line ends, blanks, case and Ctrl-Z that editors leave are in the
// tests with real toolchains; the writer's HEX is read back by srec_cat
// there.)
TEST(Firmware, AutoDetectionRefusesWhatIsRecognisablySomethingElse) {
    const struct {
        std::string bytes;
        const char* what;
    } cases[] = {
        {"VJX Flash Update File\x1A", "an update file"},
        {"", "empty"},
        {"\177ELF\1\1\1", "this looks like an ELF object file"},
        {"S00F000068656C6C6F20202020200000\r\n", "this looks like Motorola S-records"},
        {"@0000\n02 00 51\nq\n", "this looks like TI-TXT"},
        {"void main(void) {}\n", "this looks like text"},
    };
    for (const auto& c : cases) {
        tcf::FirmwareImage fw;
        std::string error;
        EXPECT_FALSE(tcf::LoadFirmware(c.bytes, tcf::FirmwareFormat::kAuto, &fw, &error)) << c.what;
        EXPECT_NE(error.find(c.what), std::string::npos) << error;
    }
}

}  // namespace
