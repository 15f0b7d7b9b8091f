// Black-box tests of the vjxflash program: argument forms, banner, usage
// text, exit statuses and the cross-process lock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/TestUtil.h"

namespace {

using testsupport::Outcome;
using testsupport::runProgram;

const std::string kProgram = VJXFLASH_PATH;
const std::string kHolder = LOCK_HOLDER_PATH;

const char kBannerLine[] = "ORVEN VJX Flash Version 5.33\n";
const char kLockRefused[] = "Can't lock VJX card.  Another process is using any of the VJX cards.\n";

std::string usageFor(const std::string& name) {
    return "\nUsage:\n\nList all available VJX cards:\n\t" + name + " -list\n\nFlash specific VJX card:\n\t" +
           name +
           " -flash N FILENAME\n\t\tFlash VJX card N with file FILENAME\n\t\tN        is the card number as "
           "shown by -list command\n\t\tFILENAME is the name of the tcf file\n\nWARNING:\n\tClose all other "
           "applications that are using any of the VJX\n\tcards installed before using " +
           name + "!\n\nExamples:\n\t" + name + " -list\n\t" + name + " -flash 1 \"VJX PCIe K 9.14.tcf\"\n\n";
}

Outcome vjxflash(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kProgram};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(kProgram, argv);
}

// Whether the machine carries PLX functions, which would make the "no
// cards" expectations below wrong.
bool plxHardwarePresent() {
    return runProgram("/bin/sh", {"sh", "-c", "grep -qix 0x10b5 /sys/bus/pci/devices/*/vendor"}).status == 0;
}

// Any argument list but "-list" and "-flash N FILE" prints the usage, named
// by the last component of the invocation; with no arguments after the
// banner.
TEST(CommandLine, EveryOtherArgumentListPrintsTheUsage) {
    const std::vector<std::vector<std::string>> forms = {
        {"vjxflash"},
        {"flash-tool"},
        {"/opt/tools/bin/cardflash", "-LIST"},
        {"vjxflash", "-list", "extra"},
        {"vjxflash", "-flash", "1"},
        {"vjxflash", "-flash", "x", "file"},
        {"vjxflash", "-Flash", "1", "f"},
        {"vjxflash", ""},
        {"vjxflash", "-flash", "", "f"},
        {"vjxflash", "-flash", "1", "f", "extra"},
    };
    for (const auto& form : forms) {
        std::string shown;
        for (const auto& a : form) shown += "[" + a + "]";
        const std::string name = form[0].substr(form[0].rfind('/') + 1);
        Outcome r = runProgram(kProgram, form);
        EXPECT_EQ(r.status, 1) << shown;
        EXPECT_EQ(r.out, (form.size() == 1 ? kBannerLine : "") + usageFor(name)) << shown;
        EXPECT_EQ(r.err, "") << shown;
    }
}

// A process that uses the access library and holds its flash flag, as a
// second vjxflash would, until its standard input closes.
TEST(CommandLineLock, SecondProcessIsRefusedWithStatus3) {
    testsupport::TempDir dir;
    const std::string report = dir.path("holder.out");
    std::FILE* holder = popen(("exec '" + kHolder + "' > '" + report + "'").c_str(), "w");
    ASSERT_NE(holder, nullptr);
    for (int i = 0; i < 3000 && testsupport::readText(report).empty(); ++i) usleep(10000);
    ASSERT_EQ(testsupport::readText(report).rfind("holding", 0), 0u) << testsupport::readText(report);

    for (const auto& form : std::vector<std::vector<std::string>>{{"-list"}, {"-flash", "1", "any.tcf"}}) {
        Outcome r = vjxflash(form);
        EXPECT_EQ(r.status, 3) << form[0];
        EXPECT_EQ(r.err, kLockRefused) << form[0];
        EXPECT_EQ(r.out, "") << form[0];
    }
    // The usage paths never take the lock.
    EXPECT_EQ(vjxflash({"-list", "x"}).status, 1);
    pclose(holder);
}

TEST(CommandLineNoCards, StartUpEndsWithStatus2AndTheNoCardsBox) {
    if (plxHardwarePresent()) GTEST_SKIP() << "PLX functions on this machine";
    const std::string box = "\n------------------- Error -------------------\nNo VJX cards found!";
    const std::string frameEnd = "\n---------------------------------------------\n";
    for (const auto& form : std::vector<std::vector<std::string>>{{"-list"},
                                                                  {"-flash", "1", "any.tcf"},
                                                                  {"-flash", "0", "any.tcf"},
                                                                  {"-flash", "7abc", ""},
                                                                  {"-flash", " +1", "any.tcf"}}) {
        Outcome r = vjxflash(form);
        EXPECT_EQ(r.status, 2) << form[0];
        EXPECT_EQ(r.err, "") << form[0];
        ASSERT_EQ(r.out.rfind(std::string(kBannerLine) + box, 0), 0u) << r.out;
        // The frame closes, then the empty line that ends the start-up.
        ASSERT_GE(r.out.size(), frameEnd.size());
        EXPECT_EQ(r.out.substr(r.out.size() - frameEnd.size()), frameEnd) << r.out;
    }
    // A lock left behind by the early end would refuse this run.
    EXPECT_EQ(vjxflash({"-list"}).err, "");
}

}  // namespace
