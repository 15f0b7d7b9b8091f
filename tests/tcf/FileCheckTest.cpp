// The whole-file check the flash command runs before its first write, and
// tcftool for its verdict: every file it passes can be programmed to the
// end, every file it refuses is refused with the text of the stage that
// would have failed, or that names what is wrong. `tcftool info` gives the
// verdict of the flash command's own check; each refused file is also put
// through `vjxflash -flash` on a simulated card, which must refuse it at
// once and leave the card as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "TcfTestSupport.h"
#include "tcf/Crc.h"
#include "tcf/Tcf.h"

using tcftest::Bytes;

namespace {

constexpr int kModulePcieK = 84;

tcf::FileContent Reference() {
    tcf::FileContent c;
    c.module = kModulePcieK;
    c.fpga = Bytes(2000, 0x5A);
    // Layout: header, segments at 0x100-0x173 and 0x174-0x24B, FPGA image
    // at 0x24C-0xA1B.
    c.segments = {tcftest::PatternSegment(0x0000, 100, 1), tcftest::PatternSegment(0x4000, 200, 2)};
    return c;
}

// The VJX PCIe K's configuration preset with another subsystem ID in the
// register load the PCI 9056 takes its subsystem key from.
Bytes PcieKPresetWithSubsystem(unsigned subsystem) {
    const tcf::Preset p = tcf::ConfigEepromPreset(11);  // model 11: module code 84
    Bytes image(p.data, p.data + p.size);
    image[70] = static_cast<unsigned char>(subsystem);
    image[71] = static_cast<unsigned char>(subsystem >> 8);
    return image;
}

// Files that are no regular update file of their own size.
enum class Special {
    kNone,
    kFifo,  // a named pipe: refused at once, never waited on
    kHuge,  // made sparse to 2 GiB behind its bytes
    kCard,  // a good file, refused by the card's own check only
};

using Fields = std::vector<std::pair<unsigned, uint32_t>>;

struct Case {
    const char* what;
    std::function<Bytes()> file;
    std::string refusal;  // "": accepted
    Special special = Special::kNone;
};

// The reference file changed by `change`.
std::function<Bytes()> Made(std::function<void(tcf::FileContent&)> change) {
    return [change] {
        tcf::FileContent c = Reference();
        change(c);
        return tcftest::Build(c);
    };
}

// The reference file (or `base`) with header fields changed and sealed.
std::function<Bytes()> Changed(Fields fields, std::function<Bytes()> base = {}) {
    return [fields, base] {
        Bytes file = base ? base() : tcftest::Build(Reference());
        for (const auto& f : fields) tcf::putLE32(&file[f.first], f.second);
        tcftest::SealHeader(file);
        return file;
    };
}

// The reference file cut to `size` bytes.
std::function<Bytes()> Cut(size_t size) {
    return [size] {
        Bytes f = tcftest::Build(Reference());
        f.resize(size);
        return f;
    };
}

std::function<Bytes()> Pcie(Bytes image) {
    return Made([image](tcf::FileContent& c) { c.pcieEeprom = image; });
}
std::function<Bytes()> Eeprom(Bytes image) {
    return Made([image](tcf::FileContent& c) { c.eeprom = image; });
}
std::function<Bytes()> Fpga(size_t size) {
    return Made([size](tcf::FileContent& c) { c.fpga = Bytes(size, 0x5A); });
}
std::function<Bytes()> Segment(size_t index, uint16_t address, size_t length) {
    return Made(
        [=](tcf::FileContent& c) { c.segments[index] = tcftest::PatternSegment(address, length, 2); });
}

Bytes Resized(Bytes image, size_t size) {
    image.resize(size, 0);
    return image;
}

// The reference file whose FPGA image holds at `at` a PCIe EEPROM image the
// bridge would take.
std::function<Bytes()> BridgeImageInFpga(size_t at) {
    return Made([at](tcf::FileContent& c) {
        const Bytes pcie = tcftest::BridgeEeprom();
        std::copy(pcie.begin(), pcie.end(), c.fpga.begin() + at);
    });
}

// The reference file with its bytes changed by `change`.
std::function<Bytes()> Patched(std::function<void(Bytes&)> change) {
    return [change] {
        Bytes f = tcftest::Build(Reference());
        change(f);
        return f;
    };
}

// The segment header at `at` with a 16-bit field set and its CRC made good.
void SetSegmentField(Bytes& f, size_t at, unsigned field, uint16_t value) {
    tcf::putBE16(&f[at + field], value);
    tcftest::SealSegmentHeader(f, at);
}

// The first segment claiming `length` bytes, with that many behind it.
std::function<Bytes()> LongSegment(uint16_t length) {
    return Patched([length](Bytes& f) {
        SetSegmentField(f, 0x100, tcf::kSegOffLength, length);
        f.resize(0x100 + 16 + 0x10000, 0x00);
    });
}

Bytes Changed1(Bytes image, size_t at, unsigned char value) {
    image[at] = value;
    return image;
}

constexpr unsigned kSecond = 0x174, kFpgaAt = 0x24C;
const std::string kEe = "EEPROM image in flash update file ", kPcie = "PCIe " + kEe,
                  kTurns = kEe + "would turn the card into ", kFpga = "FPGA image in flash update file ",
                  kLarger = "Can't program FPGA: \nFPGA image of ", kSegment = "Flash update segment ";

const Case kCases[] = {
    {"reference file", [] { return tcftest::Build(Reference()); }, ""},
    {"EEPROM-only file", [] { return tcftest::MinimalFile(kModulePcieK); }, ""},
    {"bridge image of its own", Pcie(tcftest::BridgeEeprom(0x81)), ""},
    {"configuration image of 6 bytes", Eeprom(Bytes(6, 1)),
     kEe + "is not a whole number of 32-bit values (6 bytes)"},
    {"subsystem ID 0x0000", Eeprom(PcieKPresetWithSubsystem(0)),
     kTurns + "\"(Unknown)\" (subsystem key 0x000010B5 instead of 0x335510B5)"},
    {"another model's identity, EEPROM-only file",
     [] {
         tcf::FileContent c;
         c.module = kModulePcieK;
         c.eeprom = PcieKPresetWithSubsystem(0x3352);
         return tcftest::Build(c);
     },
     kTurns + "\"VJX PCIe S\" (subsystem key 0x335210B5 instead of 0x335510B5)"},
    {"image ending before the subsystem key", Eeprom(Resized(PcieKPresetWithSubsystem(0), 68)), ""},
    {"blank first word", Eeprom(Changed1(Changed1(PcieKPresetWithSubsystem(0x3355), 2, 0xFF), 3, 0xFF)),
     kTurns + "\"Unprogrammed PCIe card\" (subsystem key 0x905610B5 instead of 0x335510B5)"},
    {"PCIe image of 33 bytes", Pcie(Bytes(33, 0x5A)), kPcie + "is too large (33 bytes, at most 32)"},
    // The bridge loads only an image that begins with its signature and is
    // as long as its own counts say.
    {"PCIe image of 1 byte", Pcie({0x5A}), kPcie + "is too short for the bridge (1 bytes)"},
    {"PCIe image of 25 bytes", Pcie(Resized(tcftest::BridgeEeprom(), 25)),
     kPcie + "is 25 bytes long, but its data declare 30 bytes"},
    {"PCIe image with more bytes than its data declare", Pcie(Resized({0x5A, 0x00, 0x06}, 32)),
     kPcie + "is 32 bytes long, but its data declare 10 bytes"},
    {"PCIe image without the signature", Pcie(Bytes(32, 0x33)),
     kPcie + "does not begin with the bridge's signature 0x5A (0x33): the bridge would ignore it"},
    {"PCIe image with a part of a register load", Pcie(Changed1(tcftest::BridgeEeprom(), 2, 0x17)),
     kPcie + "declares 23 bytes of register loads, not whole 6-byte loads"},
    {"PCIe image at offset 0", Changed({{tcf::kOffPcieOffset, 0}, {tcf::kOffPcieSize, 26}}),
     kPcie + "does not begin with the bridge's signature 0x5A (0x56): the bridge would ignore it"},
    {"PCIe image inside the FPGA image",
     Changed({{tcf::kOffPcieOffset, kFpgaAt}, {tcf::kOffPcieSize, 32}}, BridgeImageInFpga(0)),
     kPcie + "overlaps the FPGA image (bytes 0x24C-0x26B and 0x24C-0xA1B)"},
    {"PCIe and configuration images on the same bytes",
     Changed({{tcf::kOffPcieOffset, kFpgaAt + 1000},
              {tcf::kOffPcieSize, 32},
              {tcf::kOffEepromOffset, kFpgaAt + 1000},
              {tcf::kOffEepromSize, 8},
              {tcf::kOffFpgaSize, 1000}},
             BridgeImageInFpga(1000)),
     kPcie + "overlaps the EEPROM image (bytes 0x634-0x653 and 0x634-0x63B)"},
    {"bad block CRC in the second segment",
     [] {
         Bytes f = tcftest::Build(Reference());
         f[256 + 16 + 100 + 16 + 7] ^= 1;
         return f;
     },
     "Checksum in flash update segment is wrong"},
    {"bad block CRC in the first segment", Patched([](Bytes& f) { f[0x100 + 16 + 99] ^= 1; }),
     "Checksum in flash update segment is wrong"},
    // The block CRC covers the padding too: a CRC over the bare data bytes
    // must not pass.
    {"block CRC over the unpadded data", Patched([](Bytes& f) {
         uint8_t reg = 0xFF;
         for (unsigned char b : tcftest::PatternSegment(0x0000, 100, 1).data) reg = CCrc8::Update(reg, b);
         f[0x100 + tcf::kSegOffBlockCrc] = reg;
         tcftest::SealSegmentHeader(f, 0x100);
     }),
     "Checksum in flash update segment is wrong"},
    {"bad segment header CRC", Patched([](Bytes& f) { f[kSecond + tcf::kSegOffAddress] ^= 0x80; }),
     "Checksum in flash update segment header is wrong"},
    {"segment of no bytes", Patched([](Bytes& f) { SetSegmentField(f, 0x100, tcf::kSegOffLength, 0); }),
     "Can't read flash update data"},
    {"segment data running past the end of the file",
     Patched([](Bytes& f) { SetSegmentField(f, 0x100, tcf::kSegOffLength, 16368); }),
     "Can't read flash update data"},
    // Refused before anything is read into the block.
    {"segment of 16369 bytes", LongSegment(16369), kSegment + "is larger than a flash-ROM block"},
    {"segment of 65535 bytes", LongSegment(0xFFFF), kSegment + "is larger than a flash-ROM block"},
    // What follows the end of the chain is not looked at.
    {"chain ended by the first segment", Patched([](Bytes& f) {
         SetSegmentField(f, 0x100, tcf::kSegOffContinue, 0);
         f[kSecond + 3] ^= 0xFF;
     }),
     ""},
    {"two segments for one block", Segment(1, 0x0000, 100),
     "Flash update segments 1 and 2 overlap in the flash ROM"},
    // A segment is one 16 KiB block: anywhere else its data and its trailer
    // land in two blocks.
    {"segment at block address 0x2000", Segment(1, 0x2000, 200),
     kSegment + "2 (block 0x2000) does not start on a 16 KiB block boundary"},
    {"last block of the flash ROM", Segment(1, 0xC000, 16368), ""},
    {"FPGA image inside the header", Changed({{tcf::kOffFpgaOffset, 200}}),
     kFpga + "overlaps the file header (bytes 0xC8-0x897 and 0x0-0xFF)"},
    {"FPGA image at offset 0x100", Changed({{tcf::kOffFpgaOffset, 0x100}}),
     kFpga + "overlaps the segment chain (bytes 0x100-0x8CF and 0x100-0x24B)"},
    {"FPGA image over the configuration image",
     Changed({{tcf::kOffEepromOffset, kFpgaAt + 16}, {tcf::kOffEepromSize, 8}}),
     kEe + "overlaps the FPGA image (bytes 0x25C-0x263 and 0x24C-0xA1B)"},
    {"FPGA image of 255 bytes", Fpga(255),
     kFpga + "is too small to configure an FPGA (255 bytes, at least 256)"},
    {"FPGA image of 256 bytes", Fpga(256), ""},
    {"FPGA image of 524285 bytes", Changed({{tcf::kOffFpgaSize, 524285}}),
     kLarger + "524289 bytes (with CRC) is larger than any configuration device (524288 bytes)"},
    {"FPGA size 0xFFFFFFFC", Changed({{tcf::kOffFpgaSize, 0xFFFFFFFCu}}),
     kLarger + "4294967296 bytes (with CRC) is larger than any configuration device (524288 bytes)"},
    {"FPGA image filling the largest device", Fpga(524284), ""},
    // Before either EEPROM changes; the FPGA goes on running its old
    // configuration.
    {"FPGA image too large for the card's EPCS1", Fpga(131069),
     "FPGA image of 131073 bytes (with CRC) is larger than the configuration device (131072 bytes)",
     Special::kCard},
    {"FPGA image one byte short", Cut(0xA1B), "Can't read all EPC bytes."},
    {"file cut inside the header", Cut(100), "Can't read flash update file header"},
    {"named pipe", [] { return Bytes(); }, "Can't open file", Special::kFifo},
    // Answered from the header, without reading the 2 GiB.
    {"2 GiB file with a huge FPGA image",
     Changed({{tcf::kOffFpgaOffset, 0x100000}, {tcf::kOffFpgaSize, 0x7FF00000}}),
     kLarger + "2146435076 bytes (with CRC) is larger than any configuration device (524288 bytes)",
     Special::kHuge},
};

std::string Name(const ::testing::TestParamInfo<size_t>& info) {
    std::string name = kCases[info.param].what;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}

class FileCheck : public ::testing::TestWithParam<size_t> {
protected:
    // One simulated VJX PCIe K (with an EPCS1) for every refused file: none
    // may change it. Every part differs from the files, the EEPROMs too, so
    // any write shows.
    static void SetUpTestSuite() {
        s_dir = new tcftest::TempDir;
        const testsupport::Outcome made =
            Run(VJXSIM_PATH,
                {"new", Rack(), "--card", "84,fw=0.90,isp=5,fpga=5,epcs=0x10,eeprom=old,pcie-eeprom=old"});
        ASSERT_EQ(made.status, 0) << made.err;
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    static std::string Rack() { return s_dir->path("rack"); }
    static testsupport::Outcome Run(const std::string& program, std::vector<std::string> args) {
        args.insert(args.begin(), program);
        return testsupport::runProgram(program, args);
    }

    static tcftest::TempDir* s_dir;
};

tcftest::TempDir* FileCheck::s_dir = nullptr;

TEST_P(FileCheck, RefusesEveryFileThatWouldFailHalfWayOrBreakTheCardAndPassesTheRest) {
    const Case& c = kCases[GetParam()];
    std::string path = s_dir->path("f.tcf");
    std::remove(path.c_str());
    if (c.special == Special::kFifo) {
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    } else {
        s_dir->write("f.tcf", c.file());
        if (c.special == Special::kHuge) std::filesystem::resize_file(path, 2ull << 30);
    }
    const std::string text = c.special == Special::kFifo ? "Can't open file \"" + path + "\"!" : c.refusal;
    const char* refusal = text.empty() ? nullptr : text.c_str();
    const testsupport::Outcome info = Run(TCFTOOL_PATH, {"info", "--json", path});
    const nlohmann::json j = nlohmann::json::parse(info.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << info.out << info.err;
    const char* verdict = c.special == Special::kCard ? nullptr : refusal;  // tcftool knows no card
    EXPECT_EQ(info.status, verdict ? 1 : 0);
    EXPECT_EQ(j["accepted"], verdict == nullptr);
    EXPECT_EQ(j.value("reason", ""), verdict ? verdict : "");
    if (!refusal) return;

    const std::string before = Run(VJXSIM_PATH, {"show", Rack(), "--json"}).out;
    const testsupport::Outcome flash =
        Run(VJXSIM_PATH, {"run", Rack(), "--", VJXFLASH_PATH, "-flash", "1", path});
    EXPECT_EQ(flash.status, 3) << flash.out << flash.err;
    EXPECT_NE(flash.out.find(refusal), std::string::npos) << flash.out;
    EXPECT_EQ(Run(VJXSIM_PATH, {"show", Rack(), "--json"}).out, before);
}

INSTANTIATE_TEST_SUITE_P(Files, FileCheck, ::testing::Range<size_t>(0, std::size(kCases)), Name);

}  // namespace
