// The header reader over crafted files: each refusal with its own message,
// the checks in their order, images loaded within their limits.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "TcfTestSupport.h"
#include "card/VjxPci.h"
#include "tcf/Tcf.h"

using tcftest::Bytes;

namespace {

class Reader : public ::testing::Test {
protected:
    // Reads the header of `bytes` on a fresh card object. Answers the
    // reader's result; the log's error texts are in errors().
    int read(const Bytes& bytes) { return readOn(card, bytes); }
    int readOn(CVjxPci& on, const Bytes& bytes) {
        CFile file;
        EXPECT_TRUE(file.Open(dir.write("f.tcf", bytes).c_str(), CFile::modeRead | CFile::typeBinary));
        const int result = on.ReadFileHeader(file, &log.log(), record.get());
        position = file.GetPosition();
        file.Close();
        return result;
    }
    // The one message the reader gave.
    std::string message() {
        const auto found = log.errors();
        EXPECT_EQ(found.size(), 1u) << log.text();
        return found.empty() ? "" : found.back();
    }
    static Bytes image(size_t size, unsigned seed) {
        Bytes b(size);
        for (size_t i = 0; i < size; ++i) b[i] = static_cast<unsigned char>(i * 13 + seed);
        return b;
    }

    tcftest::TempDir dir;
    tcftest::CapturedLog log;
    std::unique_ptr<TTcfSmall> record = std::make_unique<TTcfSmall>();
    CVjxPci card;
    int64_t position = -1;
};

TEST_F(Reader, AcceptsAFileWithoutImagesAndTakesTheModelsPresets) {
    ASSERT_EQ(read(tcftest::MinimalFile(84)), 1) << log.text();
    EXPECT_TRUE(log.errors().empty());
    const tcf::Preset ee = tcf::ConfigEepromPreset(11), pcie = tcf::PcieEepromPreset(11);
    ASSERT_EQ(card.EepromImageSize(), 100u);
    EXPECT_EQ(Bytes(card.EepromImage(), card.EepromImage() + 100), Bytes(ee.data, ee.data + ee.size));
    ASSERT_EQ(card.PcieEepromImageSize(), 26u);
    EXPECT_EQ(Bytes(card.PcieEepromImage(), card.PcieEepromImage() + 26),
              Bytes(pcie.data, pcie.data + pcie.size));
}

TEST_F(Reader, APci9030ModelGetsItsPresetWithItsSubsystemIdAndNoPcieImage) {
    ASSERT_EQ(read(tcftest::MinimalFile(80)), 1) << log.text();
    ASSERT_EQ(card.EepromImageSize(), 136u);
    EXPECT_EQ(card.EepromImage()[14], 0x68);
    EXPECT_EQ(card.EepromImage()[15], 0x30);
    EXPECT_EQ(card.PcieEepromImageSize(), 0u);
}

TEST_F(Reader, LoadsImagesFromTheFileByteForByteAndStopsBehindTheLastOne) {
    tcf::FileContent content;
    content.module = 84;
    content.eeprom = image(140, 3);
    content.pcieEeprom = image(48, 5);
    const Bytes file = tcftest::Build(content);
    ASSERT_EQ(read(file), 1) << log.text();
    EXPECT_EQ(Bytes(card.EepromImage(), card.EepromImage() + card.EepromImageSize()), content.eeprom);
    EXPECT_EQ(Bytes(card.PcieEepromImage(), card.PcieEepromImage() + card.PcieEepromImageSize()),
              content.pcieEeprom);
    EXPECT_EQ(position, static_cast<int64_t>(file.size()));
    EXPECT_EQ(Bytes(record->header, record->header + 256), Bytes(file.begin(), file.begin() + 256));
}

TEST_F(Reader, NoRecordIsRefusedFirst) {
    CFile file;
    ASSERT_TRUE(
        file.Open(dir.write("f.tcf", tcftest::MinimalFile()).c_str(), CFile::modeRead | CFile::typeBinary));
    EXPECT_EQ(card.ReadFileHeader(file, &log.log(), nullptr), 0);
    EXPECT_EQ(message(), "Can't allocate memory for struct TTcfSmall");
}

TEST_F(Reader, AHeaderShorterThan256BytesCannotBeRead) {
    EXPECT_EQ(read(Bytes()), 0);
    EXPECT_EQ(message(), "Can't read flash update file header");
    Bytes file = tcftest::MinimalFile();
    file.resize(255);
    tcftest::CapturedLog second;
    CFile f;
    ASSERT_TRUE(f.Open(dir.write("short.tcf", file).c_str(), CFile::modeRead | CFile::typeBinary));
    EXPECT_EQ(card.ReadFileHeader(f, &second.log(), record.get()), 0);
    ASSERT_EQ(second.errors().size(), 1u);
    EXPECT_EQ(second.errors()[0], "Can't read flash update file header");
}

TEST_F(Reader, MagicWithAZeroByteIsUnknown) {
    Bytes file = tcftest::MinimalFile();
    file[3] = 0x00;  // "VJX\0"
    tcftest::SealHeader(file);
    EXPECT_EQ(read(file), 0);
    EXPECT_EQ(message(), "Magic word in flash update file header is unknown");
}

TEST_F(Reader, IntroWithout0x1AOrWithANonZeroByte22IsWrong) {
    for (size_t at : {21u, 22u}) {
        Bytes file = tcftest::MinimalFile();
        file[at] = at == 21 ? 0x00 : 0x01;
        tcftest::SealHeader(file);
        tcftest::CapturedLog each;
        CFile f;
        ASSERT_TRUE(f.Open(dir.write("intro.tcf", file).c_str(), CFile::modeRead | CFile::typeBinary));
        EXPECT_EQ(card.ReadFileHeader(f, &each.log(), record.get()), 0) << "byte " << at;
        ASSERT_EQ(each.errors().size(), 1u);
        EXPECT_EQ(each.errors()[0], "Intro in flash update file header is wrong") << "byte " << at;
    }
}

TEST_F(Reader, EveryChangedHeaderByteWithoutANewCrcIsCaughtByTheRightCheck) {
    const Bytes good = tcftest::MinimalFile();
    for (size_t at = 0; at < 255; ++at) {
        Bytes file = good;
        file[at] ^= 0x40;
        tcftest::CapturedLog each;
        CFile f;
        ASSERT_TRUE(f.Open(dir.write("crc.tcf", file).c_str(), CFile::modeRead | CFile::typeBinary));
        EXPECT_EQ(card.ReadFileHeader(f, &each.log(), record.get()), 0) << "byte " << at;
        const std::string expected = at < 4    ? "Magic word in flash update file header is unknown"
                                     : at < 23 ? "Intro in flash update file header is wrong"
                                               : "Checksum in flash update file header is wrong";
        ASSERT_EQ(each.errors().size(), 1u) << "byte " << at;
        EXPECT_EQ(each.errors()[0], expected) << "byte " << at;
    }
}

TEST_F(Reader, ModuleCodesOutsideTheRangeOrUnknownToTheModelTableAreRefused) {
    // 0x4F and 0x64 lie outside the format's range; 88 and 91 are 5V models
    // without updates; 96 (0x60) is a Windows-only model.
    for (int code : {0x4F, 0x64, 0x00, 0xFF, 88, 89, 91, 96, 99}) {
        tcftest::CapturedLog each;
        CFile f;
        ASSERT_TRUE(f.Open(dir.write("m.tcf", tcftest::MinimalFile(code)).c_str(),
                           CFile::modeRead | CFile::typeBinary));
        EXPECT_EQ(card.ReadFileHeader(f, &each.log(), record.get()), 0) << "code " << code;
        ASSERT_EQ(each.errors().size(), 1u) << "code " << code;
        EXPECT_EQ(each.errors()[0], "Module field in flash update file header is wrong") << "code " << code;
    }
    for (int code : {80, 81, 82, 83, 84, 85, 86, 87, 90, 92, 93, 94, 95}) {
        tcftest::CapturedLog each;
        CFile f;
        ASSERT_TRUE(f.Open(dir.write("m.tcf", tcftest::MinimalFile(code)).c_str(),
                           CFile::modeRead | CFile::typeBinary));
        EXPECT_EQ(card.ReadFileHeader(f, &each.log(), record.get()), 1) << "code " << code << each.text();
    }
}

TEST_F(Reader, ImagesAboveTheEngineLimitsAreRefusedBeforeAnythingIsRead) {
    tcf::FileContent content;
    content.module = 84;
    content.eeprom = image(144, 1);
    EXPECT_EQ(read(tcftest::Build(content)), 0);
    EXPECT_EQ(message(), "EEPROM image in flash update file is too large (144 bytes, at most 140)");

    tcftest::CapturedLog second;
    content.eeprom.clear();
    content.pcieEeprom = image(49, 1);
    CFile f;
    ASSERT_TRUE(
        f.Open(dir.write("p.tcf", tcftest::Build(content)).c_str(), CFile::modeRead | CFile::typeBinary));
    EXPECT_EQ(card.ReadFileHeader(f, &second.log(), record.get()), 0);
    ASSERT_EQ(second.errors().size(), 1u);
    EXPECT_EQ(second.errors()[0],
              "PCIe EEPROM image in flash update file is too large (49 bytes, at most 48)");
}

TEST_F(Reader, AHugeImageSizeIsRefusedWithoutAllocatingIt) {
    Bytes file = tcftest::MinimalFile();
    tcf::putLE32(file.data() + tcf::kOffEepromOffset, 0);
    tcf::putLE32(file.data() + tcf::kOffEepromSize, 0xFFFFFFFFu);
    tcftest::SealHeader(file);
    EXPECT_EQ(read(file), 0);
    EXPECT_EQ(message(), "EEPROM image in flash update file is too large (4294967295 bytes, at most 140)");
}

struct PastEnd {
    const char* name;
    unsigned offsetField, sizeField;
    uint32_t offset, size;
    const char* text;
};
void PrintTo(const PastEnd& p, std::ostream* os) {
    *os << p.name;
}

class ImagePastEnd : public Reader, public ::testing::WithParamInterface<PastEnd> {};

TEST_P(ImagePastEnd, IsRefusedWithTheReadMessage) {
    const PastEnd p = GetParam();
    Bytes file = tcftest::MinimalFile();
    file.resize(300, 0x11);  // 44 bytes behind the header
    tcf::putLE32(file.data() + p.offsetField, p.offset);
    tcf::putLE32(file.data() + p.sizeField, p.size);
    tcftest::SealHeader(file);
    EXPECT_EQ(read(file), 0);
    EXPECT_EQ(message(), p.text);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, ImagePastEnd,
    ::testing::Values(PastEnd{"EepromOneBytePastTheEnd", tcf::kOffEepromOffset, tcf::kOffEepromSize, 257, 44,
                              "Can't read all PCI bytes."},
                      PastEnd{"EepromStartingAtTheEnd", tcf::kOffEepromOffset, tcf::kOffEepromSize, 300, 4,
                              "Can't read all PCI bytes."},
                      PastEnd{"EepromAtTheLargestOffset", tcf::kOffEepromOffset, tcf::kOffEepromSize,
                              0xFFFFFFFFu, 4, "Can't read all PCI bytes."},
                      PastEnd{"PcieOneBytePastTheEnd", tcf::kOffPcieOffset, tcf::kOffPcieSize, 257, 44,
                              "Can't read all PCIe bytes."},
                      PastEnd{"PcieFarBehindTheEnd", tcf::kOffPcieOffset, tcf::kOffPcieSize, 0x80000000u, 8,
                              "Can't read all PCIe bytes."}),
    [](const ::testing::TestParamInfo<PastEnd>& info) { return std::string(info.param.name); });

TEST_F(Reader, AnImageEndingExactlyAtTheEndOfTheFileIsRead) {
    Bytes file = tcftest::MinimalFile();
    file.resize(300, 0x11);
    tcf::putLE32(file.data() + tcf::kOffEepromOffset, 256);
    tcf::putLE32(file.data() + tcf::kOffEepromSize, 44);
    tcftest::SealHeader(file);
    ASSERT_EQ(read(file), 1) << log.text();
    EXPECT_EQ(Bytes(card.EepromImage(), card.EepromImage() + 44), Bytes(44, 0x11));
}

TEST_F(Reader, AnImageThatCannotBeReadLeavesNoImageBehind) {
    ASSERT_EQ(read(tcftest::MinimalFile(84)), 1);
    ASSERT_EQ(card.EepromImageSize(), 100u);
    Bytes file = tcftest::MinimalFile(84);
    tcf::putLE32(file.data() + tcf::kOffEepromOffset, 1000);
    tcf::putLE32(file.data() + tcf::kOffEepromSize, 100);
    tcftest::SealHeader(file);
    EXPECT_EQ(read(file), 0);
    EXPECT_EQ(card.EepromImageSize(), 0u);
}

TEST_F(Reader, ASecondFileReplacesTheImagesOfTheFirst) {
    tcf::FileContent content;
    content.module = 84;
    content.eeprom = image(8, 9);
    ASSERT_EQ(read(tcftest::Build(content)), 1);
    ASSERT_EQ(card.EepromImageSize(), 8u);
    ASSERT_EQ(read(tcftest::MinimalFile(80)), 1);
    ASSERT_EQ(card.EepromImageSize(), 136u);
    const tcf::Preset ee = tcf::ConfigEepromPreset(6);
    EXPECT_EQ(Bytes(card.EepromImage(), card.EepromImage() + 136), Bytes(ee.data, ee.data + ee.size));
}

}  // namespace
