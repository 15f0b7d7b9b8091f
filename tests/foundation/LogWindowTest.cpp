// The log on a stream: line tokenising, message-box frames, the format cut.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "app/LogWindow.h"
#include "tests/support/TestUtil.h"

namespace {

// What `write` leaves on a fresh log's stream.
std::string Logged(const std::function<void(CLogWindow&)>& write) {
    testsupport::CapturedLog captured;
    write(captured.log());
    return captured.text();
}

const std::string kDash = "\n---------------------------------------------";
const std::string kError = "\n------------------- Error -------------------\n";

TEST(Log, WritesLinesCharactersFormatsAndBoxes) {
    const std::string q1500(1500, 'q'), r998(998, 'r');
    const struct {
        const char* what;
        std::function<void(CLogWindow&)> write;
        std::string expected;
    } cases[] = {
        // Later tokens of a text always start a line.
        {"continued and new lines",
         [](CLogWindow& l) {
             l.Append("x", 1);
             l.Append("abc", 0);
             l.Append("a\n\nb\n", 1);
             l.Append("c\nd", 0);
         },
         "\nxabc\na\nbc\nd"},
        {"empty texts",
         [](CLogWindow& l) {
             l.Append("", 0);
             l.Append("\n\n", 0);
             l.Append('\n');
             l.Append(nullptr, 0);
         },
         ""},
        {"empty new lines",
         [](CLogWindow& l) {
             l.Append("", 1);
             l.Append("\n\n", 1);
         },
         "\n\n"},
        {"characters",
         [](CLogWindow& l) {
             l.AppendFormat("Programming");
             for (int i = 0; i < 3; ++i) l.Append('.');
         },
         "\nProgramming..."},
        {"format cut at 998", [&](CLogWindow& l) { l.AppendFormat("%s", q1500.c_str()); },
         "\n" + std::string(998, 'q')},
        {"format of 998", [&](CLogWindow& l) { l.AppendFormat("%s", r998.c_str()); }, "\n" + r998},
        {"arguments are no formats", [](CLogWindow& l) { l.AppendFormat("%s", "100% %s %n done"); },
         "\n100% %s %n done"},
        {"error box", [](CLogWindow& l) { l.MessageBox("bad\n\nthing\n", 0x10, 0); },
         kError + "bad\nthing" + kDash},
        {"warning box", [](CLogWindow& l) { l.MessageBox("Sure?", 0x24, 0); },
         "\n------------------ Warning ------------------\nSure?" + kDash},
        {"two texts", [](CLogWindow& l) { l.MessageBox("EEPROM write failed: ", "no answer\n", 0x10, 0); },
         kError + "EEPROM write failed: no answer" + kDash},
    };
    for (const auto& c : cases) EXPECT_EQ(Logged(c.write), c.expected) << c.what;
    for (unsigned type : {0x00u, 0x01u, 0x40u, 0x0Fu})
        EXPECT_EQ(Logged([type](CLogWindow& l) { EXPECT_EQ(l.MessageBox("i", type, 0), 0); }),
                  kDash + "\ni" + kDash)
            << type;
}

}  // namespace
