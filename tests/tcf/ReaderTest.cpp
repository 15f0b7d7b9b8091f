// The header reader over crafted files: each refusal with its own message,
// the checks in their order, images loaded within their limits. (The
// segment chain: its refusals in the whole-file check's table, its blocks
// read back by the tool's tests.)
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "TcfTestSupport.h"
#include "card/VjxPci.h"
#include "tcf/Tcf.h"

using tcftest::Bytes;

namespace {

Bytes Image(size_t size, unsigned seed) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<unsigned char>(i * 13 + seed);
    return b;
}

// The minimal file, 44 bytes of 0x11 behind the header, with one image
// placed by its header fields.
Bytes Placed(unsigned offsetField, uint32_t offset, uint32_t size) {
    Bytes file = tcftest::MinimalFile();
    file.resize(300, 0x11);
    tcf::putLE32(file.data() + offsetField, offset);
    tcf::putLE32(file.data() + offsetField + 4, size);
    tcftest::SealHeader(file);
    return file;
}

Bytes WithImages(Bytes eeprom, Bytes pcie) {
    tcf::FileContent content;
    content.module = 84;
    content.eeprom = std::move(eeprom);
    content.pcieEeprom = std::move(pcie);
    return tcftest::Build(content);
}

class Reader : public ::testing::Test {
protected:
    // Reads the header of `bytes` on the test's card object; the log of this
    // read alone is in `log`.
    int read(const Bytes& bytes, TTcfSmall* into) {
        log = std::make_unique<tcftest::CapturedLog>();
        CFile file;
        EXPECT_TRUE(file.Open(dir.write("f.tcf", bytes).c_str(), CFile::modeRead | CFile::typeBinary));
        return card.ReadFileHeader(file, &log->log(), into);
    }
    int read(const Bytes& bytes) { return read(bytes, record.get()); }
    // The one message the reader gave.
    std::string message() {
        const auto found = log->errors();
        EXPECT_EQ(found.size(), 1u) << log->text();
        return found.empty() ? "" : found.back();
    }
    Bytes eeprom() const { return Bytes(card.EepromImage(), card.EepromImage() + card.EepromImageSize()); }
    Bytes pcie() const {
        return Bytes(card.PcieEepromImage(), card.PcieEepromImage() + card.PcieEepromImageSize());
    }

    tcftest::TempDir dir;
    std::unique_ptr<tcftest::CapturedLog> log;
    std::unique_ptr<TTcfSmall> record = std::make_unique<TTcfSmall>();
    CVjxPci card;
};

// Refused files, each with the reader's message.
TEST_F(Reader, RefusesEachBrokenHeaderWithItsMessage) {
    const std::string kPast = "Can't read all PCI bytes.", kPciePast = "Can't read all PCIe bytes.";
    const struct {
        const char* what;
        std::function<Bytes()> file;
        std::string message;
    } cases[] = {
        {"empty file", [] { return Bytes(); }, "Can't read flash update file header"},
        {"255 bytes",
         [] {
             Bytes file = tcftest::MinimalFile();
             file.pop_back();
             return file;
         },
         "Can't read flash update file header"},
        {"EEPROM of 144 bytes", [] { return WithImages(Image(144, 1), {}); },
         "EEPROM image in flash update file is too large (144 bytes, at most 140)"},
        {"PCIe EEPROM of 49 bytes", [] { return WithImages({}, Image(49, 1)); },
         "PCIe EEPROM image in flash update file is too large (49 bytes, at most 48)"},
        // Refused without allocating it.
        {"EEPROM of 4 GiB", [] { return Placed(tcf::kOffEepromOffset, 0, 0xFFFFFFFFu); },
         "EEPROM image in flash update file is too large (4294967295 bytes, at most 140)"},
        {"EEPROM one byte past the end", [] { return Placed(tcf::kOffEepromOffset, 257, 44); }, kPast},
        {"EEPROM starting at the end", [] { return Placed(tcf::kOffEepromOffset, 300, 4); }, kPast},
        {"EEPROM at the largest offset", [] { return Placed(tcf::kOffEepromOffset, 0xFFFFFFFFu, 4); }, kPast},
        {"PCIe one byte past the end", [] { return Placed(tcf::kOffPcieOffset, 257, 44); }, kPciePast},
        {"PCIe far behind the end", [] { return Placed(tcf::kOffPcieOffset, 0x80000000u, 8); }, kPciePast},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(read(c.file()), 0);
        EXPECT_EQ(message(), c.message);
    }
    EXPECT_EQ(read(tcftest::MinimalFile(), nullptr), 0);
    EXPECT_EQ(message(), "Can't allocate memory for struct TTcfSmall");
}

TEST_F(Reader, EveryChangedHeaderByteWithoutANewCrcIsCaughtByTheRightCheck) {
    const Bytes good = tcftest::MinimalFile();
    for (size_t at = 0; at < 255; ++at) {
        SCOPED_TRACE("byte " + std::to_string(at));
        Bytes file = good;
        file[at] ^= 0x40;
        EXPECT_EQ(read(file), 0);
        EXPECT_EQ(message(), at < 4    ? "Magic word in flash update file header is unknown"
                             : at < 23 ? "Intro in flash update file header is wrong"
                                       : "Checksum in flash update file header is wrong");
    }
}

// 0x4F and 0x64 lie outside the format's range; 88, 89 and 91 are 5V models
// without updates; 96 and 99 are Windows-only models.
TEST_F(Reader, TakesTheModuleCodesWithUpdatesOnly) {
    for (int code : {0x4F, 0x64, 0x00, 0xFF, 88, 89, 91, 96, 99}) {
        EXPECT_EQ(read(tcftest::MinimalFile(code)), 0) << "code " << code;
        EXPECT_EQ(message(), "Module field in flash update file header is wrong") << "code " << code;
    }
    for (int code : {80, 81, 82, 83, 84, 85, 86, 87, 90, 92, 93, 94, 95})
        EXPECT_EQ(read(tcftest::MinimalFile(code)), 1) << "code " << code << log->text();
}

// A file without images takes its model's presets: the PCI 9030 model its
// own subsystem ID and no PCIe image (the PCIe model's are written on a
// simulated card by the update of an EEPROM-only file).
TEST_F(Reader, AFileWithoutImagesTakesTheModelsPresetsAndASecondFileReplacesThem) {
    ASSERT_EQ(read(WithImages(Image(8, 9), {})), 1) << log->text();
    ASSERT_EQ(card.EepromImageSize(), 8u);
    ASSERT_EQ(read(tcftest::MinimalFile(80)), 1) << log->text();
    const tcf::Preset s = tcf::ConfigEepromPreset(6);
    EXPECT_EQ(eeprom(), Bytes(s.data, s.data + s.size));
    EXPECT_EQ(card.PcieEepromImageSize(), 0u);
}

TEST_F(Reader, LoadsImagesFromTheFileByteForByteUpToTheirLargestSizes) {
    const Bytes file = WithImages(Image(140, 3), Image(48, 5));
    ASSERT_EQ(read(file), 1) << log->text();
    EXPECT_EQ(eeprom(), Image(140, 3));
    EXPECT_EQ(pcie(), Image(48, 5));
    EXPECT_EQ(Bytes(record->header, record->header + 256), Bytes(file.begin(), file.begin() + 256));

    // An image ending exactly at the end of the file is read.
    ASSERT_EQ(read(Placed(tcf::kOffEepromOffset, 256, 44)), 1) << log->text();
    EXPECT_EQ(eeprom(), Bytes(44, 0x11));
}

}  // namespace
