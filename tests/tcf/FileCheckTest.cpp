// The whole-file check the flash command runs before its first write, and
// tcftool for its verdict: every file it passes can be programmed to the
// end, every file it refuses is refused with the text of the stage that
// would have failed.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "TcfTestSupport.h"
#include "card/VjxPci.h"
#include "tcf/Tcf.h"

using tcftest::Bytes;

namespace {

constexpr int kModulePcieK = 84;

tcf::FileContent Reference() {
    tcf::FileContent c;
    c.module = kModulePcieK;
    c.fpga = Bytes(2000, 0x5A);
    c.segments = {tcftest::PatternSegment(0x0000, 100, 1), tcftest::PatternSegment(0x4000, 200, 2)};
    return c;
}

// The VJX PCIe K's configuration preset with another subsystem ID in the
// register load the PCI 9056 takes its subsystem key from.
Bytes PcieKPresetWithSubsystem(unsigned subsystem) {
    CVjxPci card;
    const tcf::Preset p = tcf::ConfigEepromPreset(card.GetModelIndex(kModulePcieK));
    Bytes image(p.data, p.data + p.size);
    image[70] = static_cast<unsigned char>(subsystem);
    image[71] = static_cast<unsigned char>(subsystem >> 8);
    return image;
}

struct Case {
    const char* what;
    std::function<Bytes()> file;
    const char* refusal;  // nullptr: accepted
};

Bytes Built(const std::function<void(tcf::FileContent&)>& change) {
    tcf::FileContent c = Reference();
    change(c);
    return tcftest::Build(c);
}

Bytes WithHeaderField(unsigned offset, uint32_t value) {
    Bytes file = tcftest::Build(Reference());
    tcf::putLE32(&file[offset], value);
    tcftest::SealHeader(file);
    return file;
}

class FileCheck : public ::testing::Test {
protected:
    // Reads the header as the flash command does and then checks the whole
    // file; answers the refusal text, "" when accepted.
    std::string check(const Bytes& bytes) {
        tcftest::CapturedLog log;
        CVjxPci card;
        auto record = std::make_unique<TTcfSmall>();
        CFile f;
        EXPECT_TRUE(f.Open(dir.write("f.tcf", bytes).c_str(), CFile::modeRead | CFile::typeBinary));
        EXPECT_EQ(card.ReadFileHeader(f, &log.log(), record.get()), 1) << log.text();
        const int ok = card.CheckUpdateFile(f, &log.log(), record.get());
        const auto errors = log.errors();
        EXPECT_EQ(errors.size(), ok ? 0u : 1u) << log.text();
        return errors.empty() ? "" : errors.back();
    }
    tcftest::TempDir dir;
};

TEST_F(FileCheck, RefusesEveryFileThatWouldFailHalfWayAndPassesTheRest) {
    const Case cases[] = {
        {"reference file", [] { return tcftest::Build(Reference()); }, nullptr},
        {"EEPROM-only file", [] { return tcftest::MinimalFile(kModulePcieK); }, nullptr},
        {"configuration image of 6 bytes",
         [] { return Built([](tcf::FileContent& c) { c.eeprom = Bytes(6, 1); }); },
         "EEPROM image in flash update file is not a whole number of 32-bit values (6 bytes)"},
        {"subsystem ID 0x0000",
         [] { return Built([](tcf::FileContent& c) { c.eeprom = PcieKPresetWithSubsystem(0x0000); }); },
         "EEPROM image in flash update file would turn the card into \"(Unknown)\" (subsystem key 0x000010B5 "
         "instead of 0x335510B5)"},
        {"another model's identity, EEPROM-only file",
         [] {
             tcf::FileContent c;
             c.module = kModulePcieK;
             c.eeprom = PcieKPresetWithSubsystem(0x3352);
             return tcftest::Build(c);
         },
         "EEPROM image in flash update file would turn the card into \"VJX PCIe S\" (subsystem key "
         "0x335210B5 "
         "instead of 0x335510B5)"},
        {"image ending before the subsystem key",
         [] {
             return Built([](tcf::FileContent& c) {
                 c.eeprom = PcieKPresetWithSubsystem(0);
                 c.eeprom.resize(68);
             });
         },
         nullptr},
        {"blank first word",
         [] {
             return Built([](tcf::FileContent& c) {
                 c.eeprom = PcieKPresetWithSubsystem(0x3355);
                 c.eeprom[2] = c.eeprom[3] = 0xFF;
             });
         },
         "EEPROM image in flash update file would turn the card into \"Unprogrammed PCIe card\" (subsystem "
         "key "
         "0x905610B5 instead of 0x335510B5)"},
        {"PCIe image of 33 bytes",
         [] { return Built([](tcf::FileContent& c) { c.pcieEeprom = Bytes(33, 0x5A); }); },
         "PCIe EEPROM image in flash update file is too large (33 bytes, at most 32)"},
        {"bad block CRC in the second segment",
         [] {
             Bytes f = tcftest::Build(Reference());
             f[256 + 16 + 100 + 16 + 7] ^= 1;
             return f;
         },
         "Checksum in flash update segment is wrong"},
        {"two segments for one block",
         [] {
             return Built(
                 [](tcf::FileContent& c) { c.segments[1] = tcftest::PatternSegment(0x0000, 100, 2); });
         },
         "Flash update segments 1 and 2 overlap in the flash ROM"},
        {"data on the trailer of the block before",
         [] {
             return Built([](tcf::FileContent& c) { c.segments[1] = tcftest::PatternSegment(0x3FF8, 4, 2); });
         },
         "Flash update segments 1 and 2 overlap in the flash ROM"},
        {"trailer past the end of the flash ROM",
         [] {
             return Built(
                 [](tcf::FileContent& c) { c.segments[1] = tcftest::PatternSegment(0xC010, 16, 2); });
         },
         "Flash update segment 2 (block 0xC010) runs past the end of the flash ROM"},
        {"last block of the flash ROM",
         [] {
             return Built(
                 [](tcf::FileContent& c) { c.segments[1] = tcftest::PatternSegment(0xC000, 16368, 2); });
         },
         nullptr},
        {"FPGA image inside the header", [] { return WithHeaderField(tcf::kOffFpgaOffset, 200); },
         "FPGA image in flash update file overlaps the file header (offset 0xC8)"},
        {"FPGA image of 524285 bytes", [] { return WithHeaderField(tcf::kOffFpgaSize, 524285); },
         "Can't program FPGA: \nFPGA image of 524289 bytes (with CRC) is larger than any configuration "
         "device "
         "(524288 bytes)"},
        {"FPGA size 0xFFFFFFFC", [] { return WithHeaderField(tcf::kOffFpgaSize, 0xFFFFFFFCu); },
         "Can't program FPGA: \nFPGA image of 4294967296 bytes (with CRC) is larger than any configuration "
         "device (524288 bytes)"},
        {"FPGA image filling the largest device",
         [] { return Built([](tcf::FileContent& c) { c.fpga = Bytes(524284, 0x11); }); }, nullptr},
        {"FPGA image one byte short",
         [] {
             Bytes f = tcftest::Build(Reference());
             EXPECT_EQ(tcf::getLE32(&f[tcf::kOffFpgaOffset]) + 2000u, f.size());  // the image comes last
             f.pop_back();
             return f;
         },
         "Can't read all EPC bytes."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(check(c.file()), c.refusal ? c.refusal : "");
    }
}

}  // namespace
