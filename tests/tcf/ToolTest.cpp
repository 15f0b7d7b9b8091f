// tcftool through its binary: build, then info, and the two agreeing with
// the flash command's reader byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "TcfTestSupport.h"
#include "card/VjxPci.h"
#include "tcf/IntelHex.h"
#include "tcf/Segment.h"
#include "tcf/Tcf.h"

using tcftest::Bytes;

namespace {

using Result = testsupport::Outcome;

std::string Slurp(const std::string& path) {
    const Bytes b = tcftest::ReadAll(path);
    return std::string(b.begin(), b.end());
}

class Tool : public ::testing::Test {
protected:
    Result run(std::vector<std::string> args) {
        args.insert(args.begin(), TCFTOOL_PATH);
        return testsupport::runProgram(TCFTOOL_PATH, args);
    }
    nlohmann::json info(const std::string& file, int expectedStatus) {
        Result r = run({"info", file, "--json"});
        EXPECT_EQ(r.status, expectedStatus) << r.out << r.err;
        return nlohmann::json::parse(r.out, nullptr, false);
    }

    tcftest::TempDir dir;
};

TEST_F(Tool, AFileWithOnlyAModuleCodeIsAcceptedAndUsesThePresets) {
    const std::string file = dir.path("k.tcf");
    Result b = run({"build", "-o", file, "--module", "84"});
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(tcftest::ReadAll(file).size(), 256u);

    const nlohmann::json j = info(file, 0);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_EQ(j["module"], 84);
    EXPECT_EQ(j["model"], 11);
    EXPECT_EQ(j["modelName"], "VJX PCIe K");
    EXPECT_EQ(j["eeprom"]["source"], "preset");
    EXPECT_EQ(j["eeprom"]["size"], 100);
    EXPECT_EQ(j["pcieEeprom"]["source"], "preset");
    EXPECT_EQ(j["pcieEeprom"]["size"], 26);
    EXPECT_EQ(j["fpga"]["size"], 0);
    EXPECT_TRUE(j["segments"].empty());
    EXPECT_EQ(j["accepted"], true);

    Result text = run({"info", file});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("Verdict:       accepted"), std::string::npos) << text.out;
}

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

    const nlohmann::json j = info(file, 0);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_EQ(j["module"], 80);
    EXPECT_EQ(j["fpga"]["size"], 20000);
    EXPECT_EQ(j["eeprom"]["source"], "file");
    EXPECT_EQ(j["eeprom"]["size"], 136);
    EXPECT_EQ(j["pcieEeprom"]["size"], 32);
    ASSERT_EQ(j["segments"].size(), 2u);
    EXPECT_EQ(j["segments"][0]["number"], 1);
    EXPECT_EQ(j["segments"][0]["address"], 0);
    EXPECT_EQ(j["segments"][0]["length"], 5000);
    EXPECT_EQ(j["segments"][1]["number"], 2);
    EXPECT_EQ(j["segments"][1]["address"], 0x8000);
    EXPECT_EQ(j["segments"][1]["length"], 16368);
    EXPECT_EQ(j["segments"][1]["continuation"], 0);
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
    const Bytes all = tcftest::ReadAll(file);
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
// writes nothing; info names the flash command's reason and each segment's
// checks.
TEST_F(Tool, BuildRefusesAndInfoExplainsWhatTheFlashCommandWouldRefuse) {
    const std::string out = dir.path("u.tcf"), fifo = dir.path("fifo.tcf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::vector<std::string> args;
        const char* says;
    } refused[] = {
        {{"--module", "88"}, "Module field in flash update file header is wrong"},
        {{"--module", "84", "--firmware", dir.write("fw.bin", Bytes(10, 1))}, "needs an FPGA image"},
        {{"--module", "84", "--eeprom", dir.write("empty.bin", Bytes())}, "is empty"},
        {{"--module", "84", "--eeprom", fifo}, "can't read EEPROM image"},  // never waits for a writer
        {{"--module", "eighty"}, ""},
        {{"--module", "100"}, "Module code 100 (0x64) is outside the range 80 to 99"},
        {{"--module", "84", "--eeprom", dir.write("e6.bin", Bytes(6, 0))}, "a whole number of 32-bit values"},
        {{"--module", "84", "--eeprom", dir.write("e144.bin", Bytes(144, 0))}, "at most 140 bytes"},
        // One EEPROM page is all one write takes.
        {{"--module", "84", "--pcie-eeprom", dir.write("p33.bin", Bytes(33, 0))}, "at most 32 bytes fit"},
        {{"--module", "84", "--fpga", dir.write("f10.bin", Bytes(10, 0))}, "An FPGA image needs firmware"},
    };
    for (const auto& r : refused) {
        std::vector<std::string> args{"build", "-o", out};
        args.insert(args.end(), r.args.begin(), r.args.end());
        Result b = run(args);
        EXPECT_EQ(b.status, 1) << r.args[1];
        EXPECT_NE(b.err.find(r.says), std::string::npos) << b.err;
        EXPECT_FALSE(std::ifstream(out).good()) << r.args[1];
    }
    EXPECT_EQ(run({"build", "--module", "84"}).status, 2);  // no output named

    tcf::FileContent content;
    content.module = 84;
    content.fpga = Bytes(300, 7);
    content.segments = {tcftest::PatternSegment(0, 100), tcftest::PatternSegment(0x4000, 200)};
    Bytes file = tcftest::Build(content);
    file[256 + 16 + 100 + 16 + 50] ^= 0x10;  // second segment's data
    const nlohmann::json j = info(dir.write("bad.tcf", file), 1);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_EQ(j["reason"], "Checksum in flash update segment is wrong");
    ASSERT_EQ(j["segments"].size(), 2u);
    EXPECT_EQ(j["segments"][0]["blockCrc"], "good");
    EXPECT_EQ(j["segments"][1]["headerCrc"], "good");
    EXPECT_EQ(j["segments"][1]["blockCrc"], "bad");
}

// Two segments on the same flash bytes: the card could never hold both, so
// info lists both segments but no flash image, and extract refuses to take
// the file apart.
TEST_F(Tool, SegmentsSharingABlockAreRefusedByInfoAndExtract) {
    tcf::FileContent content;
    content.module = 84;
    content.fpga = Bytes(300, 7);
    content.segments = {tcftest::PatternSegment(0, 100, 1), tcftest::PatternSegment(0, 50, 2)};
    const std::string file = dir.write("twice.tcf", tcftest::Build(content));
    const nlohmann::json j = info(file, 1);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_EQ(j["segments"][1]["data"], "0x0000-0x0031");
    EXPECT_FALSE(j.contains("flashImage"));
    Result x = run({"extract", file, "--firmware", dir.path("fw.hex")});
    EXPECT_EQ(x.status, 1);
    EXPECT_NE(x.err.find("Flash update segments 1 and 2 overlap in the flash ROM"), std::string::npos)
        << x.err;
    EXPECT_FALSE(std::ifstream(dir.path("fw.hex")).good());
}

// The manual page and --help describe the same commands and options.
TEST_F(Tool, HelpAndTheManualPageNameTheSameOptions) {
    const std::regex option("--[a-z][a-z-]*");
    auto options = [&option](const std::string& text) {
        std::set<std::string> found;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator();
             ++it)
            found.insert(it->str());
        return found;
    };
    std::set<std::string> help;
    for (const char* command : {"info", "build", "extract"}) {
        Result r = run({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        const std::set<std::string> found = options(r.out);
        help.insert(found.begin(), found.end());
    }
    Result top = run({"--help"});
    EXPECT_EQ(top.status, 0);
    for (const char* command : {"info", "build", "extract"})
        EXPECT_NE(top.out.find(command), std::string::npos) << top.out;

    std::string page = Slurp(MAN_DIR "/tcftool.1");
    ASSERT_FALSE(page.empty());
    page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
    EXPECT_EQ(options(page), help);
    for (const char* command : {".B tcftool info", ".B tcftool build", ".B tcftool extract"})
        EXPECT_NE(page.find(command), std::string::npos) << command;
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
    const std::vector<std::string> images{"--fpga", dir.write("fpga.bin", fpga), "--firmware",
                                          dir.write("fw.bin", firmware)};
    auto build = [&](const std::string& out, std::vector<std::string> with) {
        with.insert(with.begin(), {"build", "-o", out, "--module", std::to_string(module)});
        return run(with);
    };
    const std::string first = dir.path("a.tcf"), second = dir.path("b.tcf");
    Result b = build(first, images);
    ASSERT_EQ(b.status, 0) << b.err;

    const nlohmann::json j = info(first, 0);
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
    b = build(second, {"--fpga", dir.path("x.fpga"), "--firmware", dir.path("x.hex")});
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(tcftest::ReadAll(second), tcftest::ReadAll(first));
}

INSTANTIATE_TEST_SUITE_P(Codes, ToolModules, ::testing::Values(80, 87, 95, 96, 97, 98, 99));

}  // namespace
