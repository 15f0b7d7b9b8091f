// Card identification and the update-file reader as the Windows program
// has them: rows 16 to 19 by revision, descriptions by module code, module
// codes up to 0x63 and the 32-byte PCIe-EEPROM preset.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ScriptedFramework.h"
#include "card/ModelTable.h"
#include "card/VjxPci.h"
#include "tcf/Tcf.h"
#include "tcf/TcfWriter.h"

namespace {

struct Identity {
    uint32_t key;
    int revision;
    int model;
    const char* description;
};

TEST(WindowsModels, RevisionSelectsTheCoreRowsAndDescriptionsComeFromTheModuleCodes) {
    const Identity cases[] = {
        {0x335410B5, 0x80, 16, "VJX PCIe M (v2)"},
        {0x335410B5, 0x01, 10, "VJX PCIe M"},
        {0x335510B5, 0x80, 17, "VJX PCIe K (v2)"},
        {0x341510B5, 0x80, 18, "VJX PCIe Q (v2)"},
        {0x349310B5, 0x80, 19, "VJX PCIe Z (v2)"},
        {0x349310B5, 0x00, 14, "VJX PCIe Z"},
        {0x306810B5, 0x80, 6, "VJX PCI S"},
        {0x222110B5, 0x00, 0, "(Unknown)"},
        {0x243110B5, 0x00, 1, "(Unknown)"},
        {0x290510B5, 0x00, 3, "(Unknown)"},
        {0x905610B5, 0x00, 20, "Unprogrammed PCIe card"},
        {0x12345678, 0x00, 20, "(Unknown)"},
    };
    for (const Identity& c : cases) {
        const char* description = nullptr;
        EXPECT_EQ(vjx::models::Lookup(c.key, c.revision, &description), c.model) << std::hex << c.key;
        EXPECT_STREQ(description, c.description) << std::hex << c.key;
    }
}

// ReadFileHeader on a file built with the producer's writer.
class WindowsReader : public ::testing::Test {
protected:
    void SetUp() override { scripted::reset(); }
    void TearDown() override {
        if (!m_path.empty()) unlink(m_path.c_str());
    }

    int read(const tcf::FileContent& content) {
        std::vector<unsigned char> bytes;
        std::string error;
        EXPECT_TRUE(tcf::BuildFile(content, &bytes, &error)) << error;
        char name[] = "/tmp/vjxwintcfXXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        m_path = name;
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
        CFile file;
        EXPECT_TRUE(file.Open(m_path.c_str(), CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary));
        m_log.m_hWnd = scripted::window(1000);
        TTcfSmall record;
        return m_card.ReadFileHeader(file, &m_log, &record);
    }
    std::string log() { return m_log.m_hWnd->text; }

    CVjxPci m_card;
    CLogWindow m_log;
    std::string m_path;
};

TEST_F(WindowsReader, PcieCardTakesThe32BytePreset) {
    tcf::FileContent content;
    content.module = 0x54;
    ASSERT_EQ(read(content), 1) << log();
    const std::vector<unsigned char> expected = {
        0x5A, 0x03, 0x18, 0x00, 0x34, 0x00, 0x50, 0x00, 0x00, 0x00, 0x48, 0x00, 0x02, 0x00, 0x00, 0x00,
        0x00, 0x10, 0x33, 0x00, 0x00, 0x00, 0x20, 0x10, 0x80, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};
    ASSERT_EQ(m_card.PcieEepromImageSize(), 32u);
    EXPECT_EQ(std::vector<unsigned char>(m_card.PcieEepromImage(), m_card.PcieEepromImage() + 32), expected);
}

TEST_F(WindowsReader, ModuleCodeBeyond0x63IsRefusedWithABeep) {
    tcf::FileContent content;
    content.module = 0x64;
    EXPECT_EQ(read(content), 0);
    EXPECT_EQ(log(), "\r\nModule field in flash update file header is wrong");
    EXPECT_EQ(scripted::state().beeps, std::vector<unsigned>{0x10});
}

}  // namespace
