// The Windows log on its edit control: "\r\n" line breaks, appends at the
// end whatever is selected, and message boxes whose answer comes back.
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

TEST_F(WindowsLog, LinesGetWindowsLineBreaksAndEmptyLinesDisappear) {
    m_log.Append("x", 1);
    m_log.Append("abc", 0);
    m_log.Append("a\n\nb\n", 1);
    m_log.Append('.');
    m_log.Append('\n');
    m_log.Append("", 0);
    m_log.Append("\n\n", 1);
    m_log.AppendFormat("card %d", 2);
    EXPECT_EQ(text(), "\r\nxabc\r\na\r\nb.\r\n\r\ncard 2");
}

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
