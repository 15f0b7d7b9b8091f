// tcftool with firmware made by real toolchains in the test run: sdcc
// compiles a small program, binutils and srecord convert it. Every form of
// the same firmware must give the same update file, and tcftool's HEX of it
// must read back in srecord as the firmware. (Update files are flashed on
// simulated cards by the end-to-end tests; what such tools make that is no
// firmware is refused by the firmware reader's table.) The tools are
// installed by scripts/deps.sh; a missing one fails the test.
#include <gtest/gtest.h>

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

class Toolchain : public ::testing::Test {
protected:
    void SetUp() override {
        dir.writeText("fw.c", kProgram);
        for (const char* tool : {"sdcc", "srec_cat", "objcopy"})
            ASSERT_EQ(sh(std::string("command -v ") + tool).status, 0)
                << tool << " is not installed; scripts/deps.sh installs it";
        Outcome cc = sh("sdcc -mmcs51 -o fw.ihx fw.c");
        ASSERT_EQ(cc.status, 0) << cc.err;
        Outcome fpga = testsupport::runProgram(VJXSIM_PATH, {VJXSIM_PATH, "image", "fpga", "--version", "7",
                                                             "--size", "20000", "-o", path("fpga.bin")});
        ASSERT_EQ(fpga.status, 0) << fpga.err;
    }

    std::string path(const std::string& name) const { return dir.path(name); }
    // A shell command in the test's directory.
    Outcome sh(const std::string& command) {
        return testsupport::runProgram("/bin/sh", {"sh", "-c", "cd '" + dir.dir() + "' && " + command});
    }
    Outcome tcftool(std::vector<std::string> args) {
        args.insert(args.begin(), TCFTOOL_PATH);
        return testsupport::runProgram(TCFTOOL_PATH, args);
    }
    // build for module 84 with the FPGA image and the firmware given
    Outcome build(const std::string& out, const std::string& firmware) {
        return tcftool({"build", "-o", path(out), "--module", "84", "--fpga", path("fpga.bin"), "--firmware",
                        path(firmware)});
    }
    std::string text(const std::string& name) { return testsupport::readText(path(name)); }

    testsupport::TempDir dir;
};

TEST_F(Toolchain, EveryFormOfTheFirmwareGivesTheSameFileWhoseHexReadsBack) {
    Outcome convert =
        sh("objcopy -I ihex -O ihex fw.ihx objcopy.hex"
           " && srec_cat fw.ihx -intel -execution-start-address=0 -o segment.hex -intel -address-length=3"
           " && srec_cat fw.ihx -intel -execution-start-address=0 -o linear.hex -intel -address-length=4"
           " -line-termination=crlf"
           " && srec_cat fw.ihx -intel -o - -intel | tr A-F a-f > lower.hex"
           " && srec_cat fw.ihx -intel -fill 0xFF 0 0x3FF0 -o fw.bin -binary");
    ASSERT_EQ(convert.status, 0) << convert.err;
    // What editors and old tools add: a blank first line, trailing blanks,
    // CR LF, a final Ctrl-Z.
    std::string cosmetic = "\r\n";
    for (char c : text("fw.ihx")) cosmetic += c == '\n' ? std::string(" \t\r\n") : std::string(1, c);
    dir.writeText("cosmetic.hex", cosmetic + "\x1A");

    Outcome reference = build("ref.tcf", "fw.ihx");
    ASSERT_EQ(reference.status, 0) << reference.err;
    EXPECT_TRUE(reference.err.empty()) << reference.err;  // no warnings
    const Bytes file = testsupport::readBytes(path("ref.tcf"));
    for (const char* variant :
         {"objcopy.hex", "segment.hex", "linear.hex", "lower.hex", "cosmetic.hex", "fw.bin"}) {
        Outcome b = build("variant.tcf", variant);
        ASSERT_EQ(b.status, 0) << variant << ": " << b.err;
        EXPECT_TRUE(b.err.empty()) << variant << ": " << b.err;
        EXPECT_TRUE(testsupport::readBytes(path("variant.tcf")) == file)
            << variant << " gives a different file";
    }

    // srec_cat reads the extracted HEX as the firmware sdcc made.
    ASSERT_EQ(tcftool({"extract", path("ref.tcf"), "--firmware", path("x.hex")}).status, 0);
    Outcome cmp =
        sh("srec_cat x.hex -intel -fill 0xFF 0 0x3FF0 -o x.srec.bin -binary"
           " && srec_cat fw.ihx -intel -fill 0xFF 0 0x3FF0 -o fw.srec.bin -binary");
    ASSERT_EQ(cmp.status, 0) << cmp.err;
    EXPECT_EQ(text("x.srec.bin"), text("fw.srec.bin"));
}

}  // namespace
