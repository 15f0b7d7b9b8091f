// tcftool through its binary: build, then info, and the two agreeing with
// the flash command's reader byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "TcfTestSupport.h"
#include "card/VjxPci.h"
#include "tcf/Segment.h"
#include "tcf/Tcf.h"

extern char** environ;

using tcftest::Bytes;

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path) {
    const Bytes b = tcftest::ReadAll(path);
    return std::string(b.begin(), b.end());
}

class Tool : public ::testing::Test {
protected:
    Result run(std::vector<std::string> args) {
        args.insert(args.begin(), TCFTOOL_PATH);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = dir.path("stdout"), err = dir.path("stderr");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        Result r;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            int status = 0;
            waitpid(pid, &status, 0);
            r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        r.out = Slurp(out);
        r.err = Slurp(err);
        return r;
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
    std::string hex;
    for (size_t at = 0; at < firmware.size(); at += 16) {
        bool erased = true;
        for (size_t i = 0; i < 16; ++i) erased = erased && firmware[at + i] == 0xFF;
        if (erased) continue;
        char line[64];
        unsigned sum = 16 + (at >> 8 & 0xFF) + (at & 0xFF);
        std::snprintf(line, sizeof line, ":10%04zX00", at);
        hex += line;
        for (size_t i = 0; i < 16; ++i) {
            std::snprintf(line, sizeof line, "%02X", firmware[at + i]);
            hex += line;
            sum += firmware[at + i];
        }
        std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        hex += line;
    }
    hex += ":00000001FF\n";
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

TEST_F(Tool, RawFirmwareWithDataWhereTheSegmentHeaderGoesIsRefused) {
    Bytes firmware(0x4000, 0xFF);
    firmware[0] = 0x02;
    firmware[0x3FF8] = 0x00;
    const std::string out = dir.path("x.tcf");
    Result b = run({"build", "-o", out, "--module", "84", "--fpga", dir.write("f.bin", Bytes(300, 1)),
                    "--firmware", dir.write("fw.bin", firmware)});
    EXPECT_EQ(b.status, 1);
    EXPECT_NE(b.err.find("0x3FF8"), std::string::npos) << b.err;
    EXPECT_NE(b.err.find("last 16 bytes"), std::string::npos) << b.err;
    EXPECT_FALSE(std::ifstream(out).good());
}

TEST_F(Tool, BuildRefusesFilesTheFlashCommandWouldRefuseWithItsWords) {
    const std::string out = dir.path("u.tcf");
    Result b = run({"build", "-o", out, "--module", "88"});
    EXPECT_EQ(b.status, 1);
    EXPECT_NE(b.err.find("Module field in flash update file header is wrong"), std::string::npos) << b.err;
    EXPECT_FALSE(std::ifstream(out).good());

    b = run({"build", "-o", out, "--module", "84", "--firmware", dir.write("fw.bin", Bytes(10, 1))});
    EXPECT_EQ(b.status, 1);
    EXPECT_NE(b.err.find("needs an FPGA image"), std::string::npos) << b.err;

    b = run({"build", "-o", out, "--module", "84", "--eeprom", dir.write("empty.bin", Bytes())});
    EXPECT_EQ(b.status, 1);
    EXPECT_NE(b.err.find("is empty"), std::string::npos) << b.err;

    b = run({"build", "-o", out, "--module", "eighty"});
    EXPECT_EQ(b.status, 1);
    EXPECT_EQ(run({"build", "--module", "84"}).status, 2);  // no output named
}

TEST_F(Tool, InfoGivesTheFlashCommandsReasonForARefusedFile) {
    tcf::FileContent content;
    content.module = 84;
    content.fpga = Bytes(300, 7);
    content.segments = {tcftest::PatternSegment(0, 100), tcftest::PatternSegment(0x4000, 200)};
    Bytes file = tcftest::Build(content);
    file[256 + 16 + 100 + 16 + 50] ^= 0x10;  // second segment's data

    const nlohmann::json j = info(dir.write("bad.tcf", file), 1);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_EQ(j["accepted"], false);
    EXPECT_EQ(j["reason"], "Checksum in flash update segment is wrong");
    ASSERT_EQ(j["segments"].size(), 2u);
    EXPECT_EQ(j["segments"][0]["blockCrc"], "good");
    EXPECT_EQ(j["segments"][1]["headerCrc"], "good");
    EXPECT_EQ(j["segments"][1]["blockCrc"], "bad");

    Bytes header = tcftest::MinimalFile();
    header[100] = 1;  // no new CRC
    const nlohmann::json h = info(dir.write("crc.tcf", header), 1);
    EXPECT_EQ(h["reason"], "Checksum in flash update file header is wrong");

    Result missing = run({"info", dir.path("none.tcf")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("Can't open file"), std::string::npos) << missing.out;
}

// The verdict is the flash command's whole-file check, run before its first
// write; a FIFO is no file and is refused at once, without waiting for a
// writer.
TEST_F(Tool, InfoRefusesWhatTheFlashCommandRefusesBeforeItsFirstWrite) {
    tcf::FileContent content;
    content.module = 84;
    content.fpga = Bytes(300, 7);
    content.segments = {tcftest::PatternSegment(0, 100)};
    Bytes file = tcftest::Build(content);
    tcf::putLE32(&file[tcf::kOffFpgaSize], 524285);
    tcftest::SealHeader(file);
    const nlohmann::json j = info(dir.write("big.tcf", file), 1);
    EXPECT_EQ(
        j["reason"],
        "Can't program FPGA: \nFPGA image of 524289 bytes (with CRC) is larger than any configuration device "
        "(524288 bytes)");

    const std::string fifo = dir.path("fifo.tcf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Result r = run({"info", fifo});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Can't open file"), std::string::npos) << r.out;
    r = run({"build", "-o", dir.path("x.tcf"), "--module", "84", "--eeprom", fifo});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("can't read EEPROM image"), std::string::npos) << r.err;
}

// Two segments for the same block: the card programs both (programming
// only clears bits), so info shows that flash image; extract can't say which
// firmware was meant and refuses.
// Two segments on the same flash bytes: the card could never hold both, so
// info refuses the file (listing both segments, but no flash image) and
// extract refuses to take it apart.
TEST_F(Tool, SegmentsSharingABlockAreRefusedByInfoAndExtract) {
    tcf::FileContent content;
    content.module = 84;
    content.fpga = Bytes(300, 7);
    content.segments = {tcftest::PatternSegment(0, 100, 1), tcftest::PatternSegment(0, 50, 2)};
    const std::string file = dir.write("twice.tcf", tcftest::Build(content));
    const nlohmann::json j = info(file, 1);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_EQ(j["reason"], "Flash update segments 1 and 2 overlap in the flash ROM");
    ASSERT_EQ(j["segments"].size(), 2u);
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
