// The desktop-framework shim: strings, files, windows and the clock.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/linux/afx.h"

namespace {

TEST(CStringFormat, LongResultsArriveWhole) {
    CString s;
    const std::string long150(150, 'x');
    s.Format("%s|%d", long150.c_str(), 42);
    EXPECT_EQ(s.str(), long150 + "|42");
    EXPECT_EQ(s.GetLength(), 153);

    // Exactly the first buffer size, and one short of it.
    const std::string hundred(100, 'y');
    s.Format("%s", hundred.c_str());
    EXPECT_EQ(s.str(), hundred);
    s.Format("%s", hundred.substr(1).c_str());
    EXPECT_EQ(s.str(), hundred.substr(1));

    s.Format("%s", "");
    EXPECT_TRUE(s.IsEmpty());
    const std::string big(100000, 'z');
    s.Format("<%s>", big.c_str());
    EXPECT_EQ(s.GetLength(), 100002);
}

TEST(CStringValue, CopiesAreIndependent) {
    CString a("abc");
    CString b = a;
    b += "def";
    a += CString("!");
    EXPECT_STREQ(a, "abc!");
    EXPECT_STREQ(b, "abcdef");
    b = nullptr;
    EXPECT_TRUE(b.IsEmpty());
    a.Empty();
    EXPECT_EQ(a.GetLength(), 0);
    EXPECT_STREQ(CString(nullptr), "");
}

class TempFile : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/vjxshimXXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        m_path = name;
    }
    void TearDown() override { unlink(m_path.c_str()); }
    void fill(const std::string& bytes) {
        std::FILE* f = std::fopen(m_path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    std::string m_path;
};

constexpr unsigned kReadBinaryShared = 0x38;

TEST_F(TempFile, ShortReadAnswersZeroAndLeavesTheFileFailed) {
    fill("0123456789");
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

    // Opened again, the file reads from the start.
    ASSERT_NE(f.Open(m_path.c_str(), kReadBinaryShared), 0);
    EXPECT_EQ(f.Read(buffer, 10), 10u);
    EXPECT_EQ(f.Read(buffer, 1), 0u);  // exactly at the end
}

TEST_F(TempFile, SeekOrigins) {
    fill("abcdefghij");
    CFile f;
    ASSERT_NE(f.Open(m_path.c_str(), CFile::modeRead | CFile::typeBinary), 0);
    char c = 0;
    f.Seek(3, 0);
    ASSERT_EQ(f.Read(&c, 1), 1u);
    EXPECT_EQ(c, 'd');
    f.Seek(2, 1);  // from the current position (4)
    ASSERT_EQ(f.Read(&c, 1), 1u);
    EXPECT_EQ(c, 'g');
    f.Seek(-1, 2);
    ASSERT_EQ(f.Read(&c, 1), 1u);
    EXPECT_EQ(c, 'j');
    f.Seek(1, 9);  // any other origin counts from the beginning
    EXPECT_EQ(f.GetPosition(), 1);
}

TEST_F(TempFile, WriteTruncateAndStatus) {
    fill("old content that is long");
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

TEST(CFileMissing, OpenFailsForAnythingButARegularFileAndEveryOperationStaysHarmless) {
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
    char dir[] = "/tmp/vjxfifoXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/update.tcf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(f.Open(fifo.c_str(), kReadBinaryShared), 0);
    EXPECT_EQ(f.Open(fifo.c_str(), CFile::modeWrite | CFile::typeBinary), 0);
    unlink(fifo.c_str());
    // Writing creates a missing file; reading and writing does not.
    EXPECT_EQ(f.Open(fifo.c_str(), CFile::modeRead | CFile::modeWrite | CFile::typeBinary), 0);
    EXPECT_NE(f.Open(fifo.c_str(), CFile::modeWrite | CFile::typeBinary), 0);
    f.Close();
    unlink(fifo.c_str());
    rmdir(dir);
}

TEST(Windows, ComboBoxKeepsItsSelectionAsGiven) {
    CComboBox box;
    box.SetCurSel(7);
    EXPECT_EQ(box.GetCurSel(), 7);
    box.AddString("one");
    box.AddString("two");
    ASSERT_EQ(box.GetCount(), 2);
    EXPECT_STREQ(box.GetItem(1), "two");
    box.ResetContent();
    EXPECT_EQ(box.GetCount(), 0);
    EXPECT_EQ(box.GetCurSel(), 7);
    box.SetCurSel(-1);
    EXPECT_EQ(static_cast<unsigned>(box.GetCurSel()), 0xFFFFFFFFu);
    CString text("kept");
    box.GetWindowText(text);
    EXPECT_STREQ(text, "kept");
}

TEST(Windows, EditTextAndMessageBoxesAnswerNo) {
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
}

TEST(Windows, CancelEndsTheProcessWithStatus2) {
    CDialog dialog;
    EXPECT_EXIT(dialog.OnCancel(), ::testing::ExitedWithCode(2), "");
}

// Timeouts are differences of two tick counts: they follow the monotonic
// clock, which a change of the time of day leaves alone.
TEST(Clock, TickCountIsTheMonotonicClockInMilliseconds) {
    struct timespec before, after;
    clock_gettime(CLOCK_MONOTONIC, &before);
    unsigned long ticks = GetTickCount();
    clock_gettime(CLOCK_MONOTONIC, &after);
    unsigned long low = before.tv_sec * 1000ul + before.tv_nsec / 1000000ul;
    unsigned long high = after.tv_sec * 1000ul + after.tv_nsec / 1000000ul;
    EXPECT_GE(ticks, low);
    EXPECT_LE(ticks, high);
    Sleep(0);
}

}  // namespace
