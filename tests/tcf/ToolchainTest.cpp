// tcftool with firmware made by real toolchains in the test run: sdcc
// compiles a small program, binutils and srecord convert it. Every form of
// the same firmware must give the same update file, and that file must bring
// a simulated card's flash ROM to exactly the firmware. The tools are
// installed by scripts/deps.sh; a missing one fails the test.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "TcfTestSupport.h"
#include "tests/support/TestUtil.h"

namespace {

using testsupport::Bytes;
using testsupport::Outcome;

// The version record the simulated microcontroller reports from 0x0040:
// "VJXAPP", major 3, minor "07", ISP version 7.
constexpr const char* kProgram =
    "__code __at(0x0040) const unsigned char version[11] = {'V', 'J', 'X', 'A', 'P', 'P', 3, '7', '0', 1, "
    "7};\n"
    "volatile unsigned char counter;\n"
    "void main(void) {\n"
    "    for (;;) ++counter;\n"
    "}\n";

std::string Which(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t pos = 0; pos <= dirs.size();) {
        size_t end = dirs.find(':', pos);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(pos, end - pos) + "/" + tool;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        pos = end + 1;
    }
    return "";
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Toolchain : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"sdcc", "srec_cat", "objcopy"})
            ASSERT_FALSE(Which(tool).empty()) << tool << " is not installed; scripts/deps.sh installs it";
        dir.writeText("fw.c", kProgram);
        Outcome cc = sh("sdcc -mmcs51 -o fw.ihx fw.c");
        ASSERT_EQ(cc.status, 0) << cc.err;
        Outcome fpga =
            run(VJXSIM_PATH, {"image", "fpga", "--version", "7", "--size", "20000", "-o", path("fpga.bin")});
        ASSERT_EQ(fpga.status, 0) << fpga.err;
    }

    std::string path(const std::string& name) const { return dir.path(name); }
    // A shell command in the test's directory.
    Outcome sh(const std::string& command) {
        return testsupport::runProgram("/bin/sh", {"sh", "-c", "cd '" + dir.dir() + "' && " + command});
    }
    Outcome run(const std::string& program, std::vector<std::string> args) {
        args.insert(args.begin(), program);
        return testsupport::runProgram(program, args);
    }
    Outcome tcftool(const std::vector<std::string>& args) { return run(TCFTOOL_PATH, args); }
    // build for module 84 with the FPGA image and the firmware given
    Outcome build(const std::string& out, const std::string& firmware, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"build",          "-o",         path(out),
                                      "--module",       "84",         "--fpga",
                                      path("fpga.bin"), "--firmware", path(firmware)};
        args.insert(args.end(), more.begin(), more.end());
        return tcftool(args);
    }
    std::string text(const std::string& name) { return testsupport::readText(path(name)); }
    bool exists(const std::string& name) { return access(path(name).c_str(), F_OK) == 0; }

    testsupport::TempDir dir;
};

TEST_F(Toolchain, EveryFormOfTheFirmwareGivesTheSameFileWhichFlashesByteExact) {
    Outcome convert =
        sh("objcopy -I ihex -O ihex fw.ihx objcopy.hex"
           " && srec_cat fw.ihx -intel -execution-start-address=0 -o segment.hex -intel -address-length=3"
           " && srec_cat fw.ihx -intel -execution-start-address=0 -o linear.hex -intel -address-length=4"
           " -line-termination=crlf"
           " && srec_cat fw.ihx -intel -o - -intel | tr A-F a-f > lower.hex"
           " && srec_cat fw.ihx -intel -fill 0xFF 0 0x3FF0 -o fw.bin -binary");
    ASSERT_EQ(convert.status, 0) << convert.err;
    // Each variant is what it stands for: 02/03 records, 04/05 records with
    // CR LF, lower case.
    EXPECT_TRUE(Contains(text("segment.hex"), ":020000020000FC")) << text("segment.hex");
    EXPECT_TRUE(Contains(text("segment.hex"), ":0400000300000000F9")) << text("segment.hex");
    EXPECT_TRUE(Contains(text("linear.hex"), ":020000040000FA\r\n")) << text("linear.hex");
    EXPECT_TRUE(Contains(text("linear.hex"), ":0400000500000000F7\r\n")) << text("linear.hex");
    EXPECT_TRUE(Contains(text("lower.hex"), "ad")) << text("lower.hex");
    // What editors and old tools add: a blank first line, trailing blanks,
    // CR LF, a final Ctrl-Z.
    std::string cosmetic = "\r\n";
    for (char c : text("fw.ihx")) cosmetic += c == '\n' ? std::string(" \t\r\n") : std::string(1, c);
    dir.writeText("cosmetic.hex", cosmetic + "\x1A");

    Outcome reference = build("ref.tcf", "fw.ihx");
    ASSERT_EQ(reference.status, 0) << reference.err;
    EXPECT_TRUE(reference.err.empty()) << reference.err;  // no warnings
    EXPECT_TRUE(Contains(reference.out, "fw.ihx: Intel HEX, ")) << reference.out;
    EXPECT_TRUE(Contains(reference.out, ", 0x0040-0x004A, ")) << reference.out;  // the version record
    const Bytes file = testsupport::readBytes(path("ref.tcf"));
    for (const char* variant :
         {"objcopy.hex", "segment.hex", "linear.hex", "lower.hex", "cosmetic.hex", "fw.bin"}) {
        Outcome b = build("variant.tcf", variant);
        ASSERT_EQ(b.status, 0) << variant << ": " << b.err;
        EXPECT_TRUE(b.err.empty()) << variant << ": " << b.err;
        EXPECT_TRUE(testsupport::readBytes(path("variant.tcf")) == file)
            << variant << " gives a different file";
    }

    // On a card: the flash ROM holds the firmware, the segment header at
    // the end of its block, and erased bytes everywhere else.
    const std::string rack = path("rack");
    ASSERT_EQ(run(VJXSIM_PATH, {"new", rack, "--card", "84,fw=0.90,isp=5,fpga=5"}).status, 0);
    Outcome flash = run(VJXSIM_PATH, {"run", rack, "--", VJXFLASH_PATH, "-flash", "1", path("ref.tcf")});
    ASSERT_EQ(flash.status, 0) << flash.out << flash.err;
    EXPECT_TRUE(Contains(flash.out, "Firmware version: 3.07")) << flash.out;
    Outcome dump = run(VJXSIM_PATH, {"dump", rack, "1", "mcu-flash"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    std::string expected = text("fw.bin");
    ASSERT_EQ(expected.size(), 0x3FF0u);
    expected.append(reinterpret_cast<const char*>(file.data()) + 256, 16);
    expected.resize(0x10000, '\xFF');
    EXPECT_TRUE(dump.out == expected) << "the flash ROM differs from the firmware";

    // info's digest of the flash image is the card's.
    Outcome info = tcftool({"info", path("ref.tcf"), "--json"});
    Outcome show = run(VJXSIM_PATH, {"show", rack, "--json"});
    ASSERT_EQ(info.status, 0) << info.out;
    const auto fileJson = nlohmann::json::parse(info.out, nullptr, false);
    const auto cardJson = nlohmann::json::parse(show.out, nullptr, false);
    ASSERT_FALSE(fileJson.is_discarded() || cardJson.is_discarded()) << info.out << show.out;
    EXPECT_EQ(fileJson["flashImage"]["digest"], cardJson["cards"][0]["digests"]["mcu-flash"]);
    EXPECT_EQ(fileJson["fpga"]["crc32"], cardJson["cards"][0]["epcs_crc"]);
    EXPECT_EQ(fileJson["segments"][0]["data"].get<std::string>().substr(0, 7), "0x0000-");

    // srec_cat reads the extracted HEX as the firmware sdcc made.
    ASSERT_EQ(tcftool({"extract", path("ref.tcf"), "--firmware", path("x.hex")}).status, 0);
    Outcome cmp =
        sh("srec_cat x.hex -intel -fill 0xFF 0 0x3FF0 -o x.srec.bin -binary"
           " && srec_cat fw.ihx -intel -fill 0xFF 0 0x3FF0 -o fw.srec.bin -binary");
    ASSERT_EQ(cmp.status, 0) << cmp.err;
    EXPECT_EQ(text("x.srec.bin"), text("fw.srec.bin"));
}

TEST_F(Toolchain, FlawedFirmwareIsRefusedOrWarnedAndNothingIsWritten) {
    // (Broken Intel HEX text is refused with its line by the reader's own
    // table; these are the files real tools make.)
    Outcome convert =
        sh("objcopy -I ihex -O elf32-little fw.ihx fw.elf"
           " && srec_cat fw.ihx -intel -o fw.s19 -motorola"
           " && srec_cat fw.ihx -intel -o fw.txt -ti-txt"
           " && srec_cat fw.ihx -intel -generate 0x3FF0 0x4000 -constant 0xFF -o trailer.hex -intel"
           " && srec_cat fw.ihx -intel -generate 0x3FF8 0x3FF9 -constant 0 -o header.hex -intel"
           " && sdcc -mmcs51 --code-loc 0x0100 -o high.ihx fw.c");
    ASSERT_EQ(convert.status, 0) << convert.err;

    const struct {
        const char* file;
        const char* says;
    } refused[] = {
        {"fw.elf", "this looks like an ELF object file"},
        {"fw.s19", "this looks like Motorola S-records"},
        {"fw.txt", "this looks like TI-TXT"},
        {"fw.c", "this looks like text"},
        {"header.hex", "Firmware byte at 0x3FF8 lies in the last 16 bytes"},
    };
    for (const auto& r : refused) {
        Outcome b = build("out.tcf", r.file);
        EXPECT_EQ(b.status, 1) << r.file;
        EXPECT_TRUE(Contains(b.err, r.says)) << r.file << ": " << b.err;
        EXPECT_FALSE(exists("out.tcf")) << r.file;
    }

    // Warnings: the file is written, unless --strict.
    const struct {
        const char* file;
        const char* warning;
    } warned[] = {
        {"trailer.hex", "explicit 0xFF at 0x3FF0-0x3FFF, where the card holds the segment header"},
        {"high.ihx", "nothing at address 0x0000 (the reset vector)"},
    };
    for (const auto& w : warned) {
        Outcome strict = build("out.tcf", w.file, {"--strict"});
        EXPECT_EQ(strict.status, 1) << w.file;
        EXPECT_TRUE(Contains(strict.err, w.warning)) << w.file << ": " << strict.err;
        EXPECT_FALSE(exists("out.tcf")) << w.file;
        Outcome b = build("out.tcf", w.file);
        EXPECT_EQ(b.status, 0) << w.file << ": " << b.err;
        EXPECT_TRUE(Contains(b.err, std::string("tcftool: warning: ") + path(w.file) + ": ")) << b.err;
        EXPECT_TRUE(Contains(b.err, w.warning)) << w.file << ": " << b.err;
        EXPECT_TRUE(exists("out.tcf")) << w.file;
        std::remove(path("out.tcf").c_str());
    }
}

TEST_F(Toolchain, AWriteFailingPartWayLeavesNoFileAndTheEarlierOneIntact) {
    ASSERT_EQ(build("out.tcf", "fw.ihx").status, 0);
    const std::string earlier = text("out.tcf");
    dir.write("big.bin", Bytes(200 * 1024, 0x42));
    const std::vector<std::string> before = Listing(dir.dir());

    // 64 KiB of file size allowed: the 200 KiB file can't be written.
    Outcome limited = sh("ulimit -f 64 && exec '" + std::string(TCFTOOL_PATH) +
                         "' build -o out.tcf --module 84 --fpga big.bin --firmware fw.ihx");
    EXPECT_EQ(limited.status, 1) << limited.err;
    EXPECT_TRUE(Contains(limited.err, "can't write")) << limited.err;
    EXPECT_EQ(text("out.tcf"), earlier);
    EXPECT_EQ(Listing(dir.dir()), before);  // no temporary file left behind

    // An output naming an input is refused, the input untouched.
    const std::string firmware = text("fw.ihx");
    Outcome same = build("fw.ihx", "fw.ihx");
    EXPECT_EQ(same.status, 1);
    EXPECT_TRUE(Contains(same.err, "is one of the inputs")) << same.err;
    EXPECT_EQ(text("fw.ihx"), firmware);
    EXPECT_EQ(tcftool({"extract", path("out.tcf"), "--fpga", path("out.tcf")}).status, 1);
    EXPECT_EQ(text("out.tcf"), earlier);

    // Nothing is extracted of an image the file does not carry.
    ASSERT_EQ(tcftool({"build", "-o", path("p.tcf"), "--module", "84"}).status, 0);
    Outcome preset = tcftool({"extract", path("p.tcf"), "--eeprom", path("p.ee")});
    EXPECT_EQ(preset.status, 1);
    EXPECT_TRUE(Contains(preset.err, "carries no EEPROM image")) << preset.err;
    EXPECT_FALSE(exists("p.ee"));
}

}  // namespace
