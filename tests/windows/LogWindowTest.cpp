// The Windows log on its edit control: appends at the end whatever is
// selected, and message boxes whose answer comes back.
#include <gtest/gtest.h>

#include "ScriptedFramework.h"
#include "app/LogWindow.h"

namespace {

class WindowsLog : public ::testing::Test {
protected:
    void SetUp() override {
        scripted::reset();
        m_log.m_hWnd = scripted::window(1000);
    }
    const std::string& text() { return m_log.m_hWnd->text; }
    CLogWindow m_log;
};

// How lines are split is the shared log's (the foundation tests); its
// Windows line breaks show in every log the dialog tests read.
TEST_F(WindowsLog, AppendsAtTheEndWhateverIsSelected) {
    m_log.Append("first", 0);
    m_log.SetSel(0, 3);
    m_log.Append("second", 1);
    EXPECT_EQ(text(), "first\r\nsecond");
}

TEST_F(WindowsLog, MessageBoxesLogTheirTextAndAnswer) {
    scripted::state().answers = {IDYES, IDNO};
    EXPECT_EQ(m_log.MessageBox("Do it?\n\nNow", 0x23, 0), IDYES);
    EXPECT_EQ(m_log.MessageBox("Prefix: ", "reason", 0x10, 7), IDNO);
    EXPECT_EQ(text(), "\r\nDo it?\r\nNow\r\nPrefix: reason");
    ASSERT_EQ(scripted::state().boxes.size(), 2u);
    EXPECT_EQ(scripted::state().boxes[0].text, "Do it?\n\nNow");  // the box shows the text unchanged
    EXPECT_EQ(scripted::state().boxes[0].type, 0x23u);
    EXPECT_EQ(scripted::state().boxes[1].text, "Prefix: reason");
    EXPECT_EQ(scripted::state().boxes[1].caption, "VJXFlash");
}

}  // namespace
