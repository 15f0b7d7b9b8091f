// The firmware version query: the answer's text, the ISP/FPGA comparison,
// incomplete answers, and the port left as it was found.
#include <string>
#include <tuple>
#include <vector>

#include "tests/engines_storage/EngineSupport.h"

namespace {

using namespace enginetest;

struct Query {
    int result = -1;
    CString version = "untouched";
    CString error = "untouched";
    int isp = -1;
    int fpga = -1;
};

Query Ask(CVjxPci& pci) {
    Query q;
    q.result = pci.getFirmwareVersionString(q.version, q.error, q.isp, q.fpga);
    return q;
}

struct TextCase {
    const char* spec;
    const char* text;
};

// The query the list makes of every card, with the parts at every timing.
class VersionText : public ::testing::TestWithParam<std::tuple<TextCase, std::string>> {};

TEST_P(VersionText, IsBuiltFromTheAnswer) {
    const TextCase& k = std::get<0>(GetParam());
    OneCard c(k.spec, std::get<1>(GetParam()));
    const Query q = Ask(c.pci);
    EXPECT_EQ(q.result, 1);
    EXPECT_STREQ(q.version, k.text);
    EXPECT_EQ(q.isp, q.fpga);
    EXPECT_EQ(q.fpga, c.pci.ReadVERSION());
    EXPECT_STREQ(q.error, "untouched");
    // Opened for the query and closed again.
    EXPECT_FALSE(c.pci.Com_isOpen());
    EXPECT_EQ(c.writes(kCfg), (std::vector<uint32_t>{0x08, 0x00}));
    EXPECT_EQ(c.sent(), "R");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, VersionText,
    ::testing::Combine(::testing::Values(TextCase{"80", "1.00"}, TextCase{"80,fw=9.14", "9.14"},
                                         TextCase{"84,fw=63.x7", "63.x7"}, TextCase{"80,fw=5", "5"}),
                       Profiles()));

TEST(FirmwareVersion, MissingAnswerBytesAreCountedAndReported) {
    for (const char* spec : {"80,mcu=short:4", "80,mcu=short:1", "80,mcu=silent"}) {
        SCOPED_TRACE(spec);
        OneCard c(spec);
        const Query q = Ask(c.pci);
        EXPECT_EQ(q.result, 0);
        EXPECT_EQ(std::string(q.error),
                  "Can't get firmware version number." + std::string(c.pci.getLastError()));
        EXPECT_STREQ(q.version, "untouched");
        EXPECT_EQ(q.isp, -1);
        EXPECT_EQ(q.fpga, -1);
        EXPECT_FALSE(c.pci.Com_isOpen());
    }
}

TEST(FirmwareVersion, OpenPortStaysOpenAndStaleBytesAreNotTakenForTheAnswer) {
    OneCard c("80,fw=9.14");
    CVjxPci& p = c.pci;
    ASSERT_EQ(p.Com_open(), 1);
    // Leave three bytes of an earlier answer unread.
    ASSERT_EQ(p.Com_write('R'), 1);
    char head[2];
    ASSERT_EQ(p.Com_read(head, 2), 1);
    c.rack.clearTrace();

    const Query q = Ask(p);
    EXPECT_EQ(q.result, 1);
    EXPECT_STREQ(q.version, "9.14");
    EXPECT_TRUE(p.Com_isOpen());
    EXPECT_TRUE(c.writes(kCfg).empty());
}

}  // namespace
