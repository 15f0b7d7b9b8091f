// The log on a stream: line tokenising, message-box frames, the format cut.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/LogWindow.h"

namespace {

class Log : public ::testing::Test {
protected:
    void SetUp() override {
        m_out = std::tmpfile();
        ASSERT_NE(m_out, nullptr);
        m_log = new CLogWindow(m_out);
    }
    void TearDown() override {
        delete m_log;
        std::fclose(m_out);
    }
    std::string text() {
        std::fflush(m_out);
        std::rewind(m_out);
        std::string all;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_out)) > 0) all.append(buffer, n);
        return all;
    }
    std::FILE* m_out = nullptr;
    CLogWindow* m_log = nullptr;
};

const std::string kDash = "---------------------------------------------";

TEST_F(Log, AppendContinuesOrStartsLines) {
    m_log->Append("x", 1);
    m_log->Append("abc", 0);
    EXPECT_EQ(text(), "\nxabc");
    m_log->Append("a\n\nb\n", 1);
    EXPECT_EQ(text(), "\nxabc\na\nb");
    m_log->Append("c\nd", 0);  // later tokens always start a line
    EXPECT_EQ(text(), "\nxabc\na\nbc\nd");
}

TEST_F(Log, EmptyTextsAndLineBreaksOnly) {
    m_log->Append("", 0);
    m_log->Append("\n\n", 0);
    m_log->Append('\n');
    m_log->Append(nullptr, 0);
    EXPECT_EQ(text(), "");
    m_log->Append("", 1);
    EXPECT_EQ(text(), "\n");
    m_log->Append("\n\n", 1);
    EXPECT_EQ(text(), "\n\n");
}

TEST_F(Log, CharactersStayOnTheCurrentLine) {
    m_log->AppendFormat("Programming");
    for (int i = 0; i < 3; ++i) m_log->Append('.');
    EXPECT_EQ(text(), "\nProgramming...");
}

TEST_F(Log, FormatStartsANewLineAndCutsAt998Characters) {
    m_log->AppendFormat("%d: %s", 7, "VJX PCI K");
    EXPECT_EQ(text(), "\n7: VJX PCI K");

    Log::TearDown();
    Log::SetUp();
    const std::string long1500(1500, 'q');
    m_log->AppendFormat("%s", long1500.c_str());
    EXPECT_EQ(text(), "\n" + std::string(998, 'q'));

    Log::TearDown();
    Log::SetUp();
    m_log->AppendFormat("%s", std::string(998, 'r').c_str());
    EXPECT_EQ(text(), "\n" + std::string(998, 'r'));
}

TEST_F(Log, MessageBoxFramesByIcon) {
    EXPECT_EQ(m_log->MessageBox("x", 0x30, 0), 0);
    EXPECT_EQ(text(), "\n" + kDash + "\nx\n" + kDash);

    Log::TearDown();
    Log::SetUp();
    EXPECT_EQ(m_log->MessageBox("bad\n\nthing\n", 0x10, 0), 0);
    EXPECT_EQ(text(), "\n------------------- Error -------------------\nbad\nthing\n" + kDash);

    Log::TearDown();
    Log::SetUp();
    EXPECT_EQ(m_log->MessageBox("Sure?", 0x24, 0), 0);
    EXPECT_EQ(text(), "\n------------------ Warning ------------------\nSure?\n" + kDash);

    for (unsigned type : {0x00u, 0x01u, 0x40u, 0x0Fu}) {
        Log::TearDown();
        Log::SetUp();
        EXPECT_EQ(m_log->MessageBox("i", type, 0), 0);
        EXPECT_EQ(text(), "\n" + kDash + "\ni\n" + kDash) << type;
    }
}

TEST_F(Log, TwoTextBoxJoinsPrefixAndReason) {
    EXPECT_EQ(m_log->MessageBox("EEPROM write failed: ", "no answer from the chip\n", 0x10, 0), 0);
    EXPECT_EQ(
        text(),
        "\n------------------- Error -------------------\nEEPROM write failed: no answer from the chip\n" +
            kDash);
}

TEST_F(Log, FormatArgumentsAreNeverFormats) {
    m_log->AppendFormat("%s", "100% %s %n done");
    EXPECT_EQ(text(), "\n100% %s %n done");
}

}  // namespace
