// tcftool through its binary: build, then info, and the two agreeing with
// the flash command's reader byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "TcfTestSupport.h"
#include "card/VjxPci.h"
#include "tcf/IntelHex.h"
#include "tcf/Segment.h"
#include "tcf/Tcf.h"

using tcftest::Bytes;

namespace {

using Result = testsupport::Outcome;

class Tool : public ::testing::Test {
protected:
    Result run(std::vector<std::string> args) {
        args.insert(args.begin(), TCFTOOL_PATH);
        return testsupport::runProgram(TCFTOOL_PATH, args);
    }

    tcftest::TempDir dir;
};

TEST_F(Tool, AWholeFileBuiltFromIntelHexReadsBackByteForByte) {
    // Firmware in blocks 0 and 2, each ending in erased bytes that the
    // segments leave out; block 1 is all erased and gets no segment.
    Bytes firmware(0x10000, 0xFF);
    for (size_t i = 0; i < 5000; ++i) firmware[i] = static_cast<unsigned char>(i % 200);
    for (size_t i = 0x8000; i < 0x8000 + 16368; ++i) firmware[i] = static_cast<unsigned char>(i % 251);
    firmware[0x8000 + 16000] = 0xFF;  // an erased byte inside the data stays
    const std::string hex = tcf::WriteIntelHex(firmware, {{0, 4999}, {0x8000, 0x8000 + 16367}});
    Bytes fpga(20000), eeprom(136), pcie = tcftest::BridgeEeprom(0x81);
    for (size_t i = 0; i < fpga.size(); ++i) fpga[i] = static_cast<unsigned char>(i * 31);
    for (size_t i = 0; i < eeprom.size(); ++i) eeprom[i] = static_cast<unsigned char>(i + 1);
    // The PCI 9030 loads the card's subsystem key from bytes 12 to 15: the
    // VJX PCI S's, or the file would turn the card into another one.
    const unsigned char key[4] = {0xB5, 0x10, 0x68, 0x30};
    std::copy(key, key + 4, eeprom.begin() + 12);

    const std::string file = dir.path("full.tcf");
    Result b = run({"build", "-o", file, "--module", "0x50", "--fpga", dir.write("fpga.bin", fpga),
                    "--firmware", dir.writeText("fw.hex", hex), "--eeprom", dir.write("ee.bin", eeprom),
                    "--pcie-eeprom", dir.write("pcie.bin", pcie)});
    ASSERT_EQ(b.status, 0) << b.err;

    const Result i = run({"info", file, "--json"});
    ASSERT_EQ(i.status, 0) << i.out << i.err;
    const nlohmann::json j = nlohmann::json::parse(i.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded());
    ASSERT_EQ(j["segments"].size(), 2u);
    EXPECT_EQ(j["segments"][0]["length"], 5000);
    EXPECT_EQ(j["segments"][1]["length"], 16368);
    EXPECT_EQ(j["segments"][1]["blockCrc"], "good");

    // The flash command's reader gets back exactly what went in.
    CVjxPci card;
    tcftest::CapturedLog log;
    auto record = std::make_unique<TTcfSmall>();
    CFile f;
    ASSERT_TRUE(f.Open(file.c_str(), CFile::modeRead | CFile::typeBinary));
    ASSERT_EQ(card.ReadFileHeader(f, &log.log(), record.get()), 1) << log.text();
    EXPECT_EQ(Bytes(card.EepromImage(), card.EepromImage() + card.EepromImageSize()), eeprom);
    EXPECT_EQ(Bytes(card.PcieEepromImage(), card.PcieEepromImage() + card.PcieEepromImageSize()), pcie);
    const Bytes all = testsupport::readBytes(file);
    const uint32_t fpgaAt = tcf::getLE32(record->header + tcf::kOffFpgaOffset);
    ASSERT_LE(fpgaAt + fpga.size(), all.size());
    EXPECT_EQ(Bytes(all.begin() + fpgaAt, all.begin() + fpgaAt + fpga.size()), fpga);

    // Walking the chain rebuilds the firmware, including the erased block.
    f.Seek(256, 0);
    Bytes rebuilt(0x10000, 0xFF);
    for (;;) {
        tcf::SegmentInfo seg;
        ASSERT_EQ(tcf::ReadSegment(f, record.get(), &seg), tcf::SegmentResult::kOk);
        std::copy(record->block, record->block + tcf::kBlockSize, rebuilt.begin() + seg.address);
        if (seg.continuation == 0) break;
    }
    EXPECT_EQ(rebuilt, firmware);
}

// build refuses what the flash command would refuse, in its words, and
// writes nothing.
TEST_F(Tool, BuildRefusesWhatTheFlashCommandWouldRefuseAndWritesNothing) {
    const std::string out = dir.path("u.tcf"), fifo = dir.path("fifo.tcf"),
                      fpga = dir.write("f300.bin", Bytes(300));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Raw firmware with one byte at `at`, everything before it erased.
    auto byteAt = [&](size_t at) {
        Bytes firmware(at + 1, 0xFF);
        firmware[at] = 0x00;
        return dir.write("at" + std::to_string(at) + ".bin", firmware);
    };
    const struct {
        std::vector<std::string> args;
        const char* says;
    } refused[] = {
        {{"--module", "84", "--firmware", dir.write("fw.bin", Bytes(10, 1))}, "needs an FPGA image"},
        {{"--module", "84", "--eeprom", dir.write("empty.bin", Bytes())}, "is empty"},
        {{"--module", "84", "--eeprom", fifo}, "can't read EEPROM image"},  // never waits for a writer
        {{"--module", "eighty"}, ""},
        {{"--module", "84", "--eeprom", dir.write("e6.bin", Bytes(6, 0))}, "a whole number of 32-bit values"},
        // One EEPROM page is all one write takes.
        {{"--module", "84", "--pcie-eeprom", dir.write("p33.bin", Bytes(33, 0))}, "at most 32 bytes fit"},
        {{"--module", "84", "--fpga", dir.write("f10.bin", Bytes(10, 0))}, "An FPGA image needs firmware"},
        // A warning refuses the file with --strict.
        {{"--module", "84", "--strict", "--fpga", fpga, "--firmware",
          dir.write("high.bin", Bytes{0xFF, 0x01})},
         "nothing at address 0x0000 (the reset vector)"},
        // Raw firmware fills the flash ROM from address 0, and no further than
        // it reaches; a block's last 16 bytes are its trailer's.
        {{"--module", "84", "--fpga", fpga, "--firmware-format", "bin", "--firmware",
          dir.write("big.bin", Bytes(0x10001))},
         "Raw firmware is larger than the 64 KiB the flash ROM blocks can reach"},
        {{"--module", "84", "--fpga", fpga, "--firmware", byteAt(0x3FF0)},
         "0x3FF0 lies in the last 16 bytes"},
        {{"--module", "84", "--fpga", fpga, "--firmware", byteAt(0x3FFF)},
         "0x3FFF lies in the last 16 bytes"},
        {{"--module", "84", "--fpga", fpga, "--firmware", byteAt(0xFFF5)},
         "0xFFF5 lies in the last 16 bytes"},
    };
    for (const auto& r : refused) {
        std::vector<std::string> args{"build", "-o", out};
        args.insert(args.end(), r.args.begin(), r.args.end());
        Result b = run(args);
        EXPECT_EQ(b.status, 1) << r.args[1];
        EXPECT_NE(b.err.find(r.says), std::string::npos) << b.err;
        EXPECT_FALSE(std::ifstream(out).good()) << r.args[1];
    }
}

// Every module code a program of ours takes: build, info naming each
// program's answer, extract, and a second build from the extracted images
// that gives the same file byte for byte. Codes 96 to 99 only the Windows
// program takes.
class ToolModules : public Tool, public ::testing::WithParamInterface<int> {};

TEST_P(ToolModules, BuildInfoExtractBuildForEveryProgramsCodes) {
    const int module = GetParam();
    const bool linuxTakes = module <= 95;
    Bytes fpga(3000), firmware(0x8000, 0xFF);
    for (size_t i = 0; i < fpga.size(); ++i) fpga[i] = static_cast<unsigned char>(i * 13);
    for (size_t i = 0; i < 0x4800; ++i)
        if (i < 0x3000 || i >= 0x4000) firmware[i] = static_cast<unsigned char>(i % 199);
    auto build = [&](const std::string& out, const std::string& fpgaFile, const std::string& fwFile) {
        return run({"build", "-o", out, "--module", std::to_string(module), "--fpga", fpgaFile, "--firmware",
                    fwFile});
    };
    const std::string first = dir.path("a.tcf"), second = dir.path("b.tcf");
    Result b = build(first, dir.write("fpga.bin", fpga), dir.write("fw.bin", firmware));
    ASSERT_EQ(b.status, 0) << b.err;

    const nlohmann::json j = nlohmann::json::parse(run({"info", first, "--json"}).out, nullptr, false);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_EQ(j["accepted"], true);
    ASSERT_EQ(j["programs"].size(), 2u) << j.dump();
    EXPECT_EQ(j["programs"][0]["program"], "vjxflash");
    EXPECT_EQ(j["programs"][0]["accepted"], linuxTakes);
    EXPECT_EQ(j["programs"][0].value("reason", ""),
              linuxTakes ? "" : "Module field in flash update file header is wrong");
    EXPECT_EQ(j["programs"][1]["program"], "VJXFlash");
    EXPECT_EQ(j["programs"][1]["accepted"], true);
    const Result text = run({"info", first});
    EXPECT_NE(text.out.find(linuxTakes ? "Verdict:       accepted\n"
                                       : "Verdict:       accepted by VJXFlash, refused by vjxflash\n"),
              std::string::npos)
        << text.out;

    Result x = run({"extract", first, "--fpga", dir.path("x.fpga"), "--firmware", dir.path("x.hex")});
    ASSERT_EQ(x.status, 0) << x.err;
    b = build(second, dir.path("x.fpga"), dir.path("x.hex"));
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(testsupport::readBytes(second), testsupport::readBytes(first));
}

INSTANTIATE_TEST_SUITE_P(Codes, ToolModules, ::testing::Values(80, 87, 95, 96, 97, 98, 99));

}  // namespace
