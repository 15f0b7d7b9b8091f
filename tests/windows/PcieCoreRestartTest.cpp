// After a PCIe-core card's FPGA was loaded anew: the device tree enumerated
// again through the configuration manager, and the restart question when
// that fails, over the scripted system calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedFramework.h"
#include "ScriptedKernel.h"
#include "engines/SystemRestart.h"

namespace {

const char* const kQuestion =
    "The card's PCIe core was changed and reset.\nA reboot is needed to make the card working again.\n\n"
    "Do the reboot now?";
const std::vector<std::string> kReenumerate = {"locate (root) 0", "reenumerate 81 3"};
const std::vector<std::string> kRestart = {"privilege (local) SeShutdownPrivilege", "token 0x28",
                                           "adjust 1300000013 2", "close token", "exit 2 0x80010001"};

class CoreRestart : public ::testing::Test {
protected:
    void SetUp() override {
        scripted::reset();
        kernel::state() = kernel::State();
        m_log.m_hWnd = scripted::window(1000);
    }
    std::vector<std::string>& calls() { return kernel::state().systemCalls; }
    const std::vector<scripted::Box>& boxes() { return scripted::state().boxes; }

    CLogWindow m_log;
};

TEST_F(CoreRestart, ReenumerationThatWorksAsksNothing) {
    ReenumerateOrOfferRestart(m_log);
    EXPECT_EQ(calls(), kReenumerate);
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(m_log.m_hWnd->text, "");
}

// Whichever configuration-manager call fails, the user is asked; No and
// Cancel end it there, Yes restarts.
TEST_F(CoreRestart, FailedReenumerationAsksAndOnlyYesRestarts) {
    struct Case {
        const char* failing;
        int answer;
        bool restarts;
    };
    for (const Case& c : {Case{"locate", 7, false}, Case{"reenumerate", 2, false},
                          Case{"reenumerate", 6, true}, Case{"locate", 6, true}}) {
        SetUp();
        kernel::state().failingCall = c.failing;
        scripted::state().answers = {c.answer};
        ReenumerateOrOfferRestart(m_log);
        ASSERT_EQ(boxes().size(), 1u) << c.failing << " " << c.answer;
        EXPECT_EQ(boxes()[0].text, kQuestion);
        EXPECT_EQ(boxes()[0].type, 0x33u);
        std::vector<std::string> expected = {kReenumerate[0]};
        if (std::string(c.failing) == "reenumerate") expected.push_back(kReenumerate[1]);
        if (c.restarts) expected.insert(expected.end(), kRestart.begin(), kRestart.end());
        EXPECT_EQ(calls(), expected) << c.failing << " " << c.answer;
        // The log keeps the question's lines, without the empty one.
        EXPECT_EQ(m_log.m_hWnd->text,
                  "\r\nThe card's PCIe core was changed and reset.\r\nA reboot is needed to make the card "
                  "working again.\r\nDo the reboot now?");
    }
}

// Any refused step of the restart (privilege, token, the request itself)
// is one report after the question; nothing is asked of the system after a
// refusal, and an opened token is always closed.
TEST_F(CoreRestart, RefusedRestartIsReported) {
    const struct {
        const char* failing;
        size_t restartCalls;  // of kRestart, in order
    } cases[] = {{"privilege", 1}, {"token", 2}, {"adjust", 4}, {"exit", 5}};
    for (const auto& c : cases) {
        SetUp();
        kernel::state().failingCall = "reenumerate";
        kernel::state().alsoFailing = {c.failing};
        scripted::state().answers = {6};
        ReenumerateOrOfferRestart(m_log);
        ASSERT_EQ(boxes().size(), 2u) << c.failing;
        EXPECT_EQ(boxes()[0].text, kQuestion) << c.failing;
        EXPECT_EQ(boxes()[1].text, "Shutdown of system failed") << c.failing;
        EXPECT_EQ(boxes()[1].type, 0x10u) << c.failing;
        std::vector<std::string> expected = kReenumerate;
        expected.insert(expected.end(), kRestart.begin(), kRestart.begin() + c.restartCalls);
        EXPECT_EQ(calls(), expected) << c.failing;
    }
}

}  // namespace
