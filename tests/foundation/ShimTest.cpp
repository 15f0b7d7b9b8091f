// The desktop-framework shim: strings, files, windows and the clock.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/linux/afx.h"

namespace {

TEST(CString, FormatsWholeResultsOfAnyLengthAndCopiesAreIndependent) {
    CString s;
    // Around the first buffer size, and far beyond it.
    for (size_t length : {0, 99, 100, 153, 100000}) {
        const std::string text(length, 'x');
        s.Format("%s", text.c_str());
        EXPECT_EQ(s.str(), text) << length;
        EXPECT_EQ(s.GetLength(), static_cast<int>(length));
    }
    s.Format("%s|%d", std::string(150, 'y').c_str(), 42);
    EXPECT_EQ(s.str(), std::string(150, 'y') + "|42");

    CString a("abc");
    CString b = a;
    b += "def";
    a += CString("!");
    EXPECT_STREQ(a, "abc!");
    EXPECT_STREQ(b, "abcdef");
    b = nullptr;
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_STREQ(CString(nullptr), "");
}

class TempFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(mkdtemp(m_dir), nullptr);
        m_path = std::string(m_dir) + "/update.tcf";
        std::FILE* f = std::fopen(m_path.c_str(), "wb");
        std::fputs("0123456789", f);
        std::fclose(f);
    }
    void TearDown() override {
        unlink(m_path.c_str());
        rmdir(m_dir);
    }
    char m_dir[20] = "/tmp/vjxshimXXXXXX";
    std::string m_path;
};

constexpr unsigned kReadBinaryShared = 0x38;

TEST_F(TempFile, ShortReadAnswersZeroAndLeavesTheFileFailed) {
    CFile f;
    ASSERT_NE(f.Open(m_path.c_str(), kReadBinaryShared), 0);
    char buffer[16] = {};
    EXPECT_EQ(f.Read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(f.GetPosition(), 4);
    EXPECT_EQ(f.Read(buffer, 16), 0u);  // 6 bytes left
    f.SeekToBegin();
    EXPECT_EQ(f.Read(buffer, 1), 0u);  // still failed
    f.Close();

    // Opened again, the file reads from the start; the origins of Seek.
    ASSERT_NE(f.Open(m_path.c_str(), kReadBinaryShared), 0);
    EXPECT_EQ(f.Read(buffer, 10), 10u);
    EXPECT_EQ(f.Read(buffer, 1), 0u);  // exactly at the end
    f.Close();
    ASSERT_NE(f.Open(m_path.c_str(), CFile::modeRead | CFile::typeBinary), 0);
    const struct {
        long offset;
        unsigned origin;
        char read;
    } seeks[] = {{3, 0, '3'}, {2, 1, '6'}, {-1, 2, '9'}, {1, 9, '1'}};  // any other origin: from the start
    for (const auto& s : seeks) {
        f.Seek(s.offset, s.origin);
        ASSERT_EQ(f.Read(buffer, 1), 1u);
        EXPECT_EQ(buffer[0], s.read) << s.origin;
    }
}

TEST_F(TempFile, WriteTruncateAndStatus) {
    CFile f;
    ASSERT_NE(f.Open(m_path.c_str(), CFile::modeWrite | CFile::modeTruncate | CFile::typeBinary), 0);
    f.Write("new", 3);
    f.Close();
    CFileStatus status;
    EXPECT_EQ(CFile::GetStatus(m_path.c_str(), status), 1);
    EXPECT_EQ(status.m_size, 3);

    // Read and write on one file share one position.
    ASSERT_NE(f.Open(m_path.c_str(), CFile::modeRead | CFile::modeWrite | CFile::typeBinary), 0);
    f.Seek(1, 0);
    f.Write("E", 1);
    f.SeekToBegin();
    char buffer[3];
    ASSERT_EQ(f.Read(buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 3), "nEw");
}

TEST_F(TempFile, OpenFailsForAnythingButARegularFileAndEveryOperationStaysHarmless) {
    CFile f;
    EXPECT_EQ(f.Open("/nonexistent/dir/file.tcf", kReadBinaryShared), 0);
    char buffer[4];
    EXPECT_EQ(f.Read(buffer, 4), 0u);
    f.Seek(0, 0);
    f.Close();
    f.Close();
    CFileStatus status;
    status.m_size = 77;
    EXPECT_EQ(CFile::GetStatus("/nonexistent/dir/file.tcf", status), 0);
    EXPECT_EQ(status.m_size, 0);
    EXPECT_EQ(f.Open("/tmp", kReadBinaryShared), 0);       // a directory is no file,
    EXPECT_EQ(f.Open("/dev/null", kReadBinaryShared), 0);  // nor is a device,
    // nor a FIFO, refused at once instead of waiting for a writer.
    unlink(m_path.c_str());
    ASSERT_EQ(mkfifo(m_path.c_str(), 0600), 0);
    EXPECT_EQ(f.Open(m_path.c_str(), kReadBinaryShared), 0);
    EXPECT_EQ(f.Open(m_path.c_str(), CFile::modeWrite | CFile::typeBinary), 0);
    unlink(m_path.c_str());
    // Writing creates a missing file; reading and writing does not.
    EXPECT_EQ(f.Open(m_path.c_str(), CFile::modeRead | CFile::modeWrite | CFile::typeBinary), 0);
    EXPECT_NE(f.Open(m_path.c_str(), CFile::modeWrite | CFile::typeBinary), 0);
}

TEST(Windows, ControlsKeepWhatIsGivenMessageBoxesAnswerNoAndCancelEndsWithStatus2) {
    CComboBox box;
    box.SetCurSel(7);
    box.AddString("one");
    box.AddString("two");
    ASSERT_EQ(box.GetCount(), 2);
    EXPECT_STREQ(box.GetItem(1), "two");
    box.ResetContent();
    EXPECT_EQ(box.GetCount(), 0);
    EXPECT_EQ(box.GetCurSel(), 7);
    box.SetCurSel(-1);
    EXPECT_EQ(static_cast<unsigned>(box.GetCurSel()), 0xFFFFFFFFu);

    CEdit edit;
    edit.SetWindowText("file.tcf");
    CString text;
    edit.GetWindowText(text);
    EXPECT_STREQ(text, "file.tcf");
    edit.SetWindowText(nullptr);
    edit.GetWindowText(text);
    EXPECT_TRUE(text.IsEmpty());
    for (unsigned type : {0x00u, 0x04u, 0x10u, 0x23u, 0x24u, 0x40u}) {
        EXPECT_EQ(AfxMessageBox("Continue?", type, 0), 0);
        EXPECT_EQ(MessageBox("Continue?", "caption", type), 0);
    }
    CDialog dialog;
    EXPECT_EQ(dialog.OnInitDialog(), 1);
    EXPECT_EXIT(dialog.OnCancel(), ::testing::ExitedWithCode(2), "");
}

// Timeouts are differences of two tick counts: they follow the monotonic
// clock, which a change of the time of day leaves alone.
TEST(Clock, TickCountIsTheMonotonicClockInMilliseconds) {
    struct timespec before, after;
    clock_gettime(CLOCK_MONOTONIC, &before);
    unsigned long ticks = GetTickCount();
    clock_gettime(CLOCK_MONOTONIC, &after);
    EXPECT_GE(ticks, before.tv_sec * 1000ul + before.tv_nsec / 1000000ul);
    EXPECT_LE(ticks, after.tv_sec * 1000ul + after.tv_nsec / 1000000ul);
}

}  // namespace
