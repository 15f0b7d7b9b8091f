// The desktop-framework shim: strings, files and the clock.
#include <gtest/gtest.h>
#include <time.h>

#include <string>

#include "app/linux/afx.h"
#include "tests/support/TestUtil.h"

namespace {

TEST(CString, FormatsWholeResultsOfAnyLength) {
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
}

class TempFile : public ::testing::Test {
protected:
    testsupport::TempDir m_dir;
    const std::string m_path = m_dir.writeText("update.tcf", "0123456789");
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

// Every sleep is a lower bound a part's busy time relies on: however the
// sleep tries to end near its deadline, it never ends before it.
TEST(Clock, ASleepNeverEndsBeforeItsTime) {
    for (unsigned ms : {1u, 2u, 3u}) {
        for (int n = 0; n < 5; ++n) {
            struct timespec before, after;
            clock_gettime(CLOCK_MONOTONIC, &before);
            Sleep(ms);
            clock_gettime(CLOCK_MONOTONIC, &after);
            const long long ns =
                (after.tv_sec - before.tv_sec) * 1000000000ll + (after.tv_nsec - before.tv_nsec);
            EXPECT_GE(ns, static_cast<long long>(ms) * 1000000ll) << ms << " ms";
        }
    }
}

}  // namespace
