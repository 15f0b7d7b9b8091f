// Small helpers every test group may use: files in a private temporary
// directory, a log captured in a temporary stream, and child processes with
// their output collected.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/LogWindow.h"

namespace testsupport {

using Bytes = std::vector<unsigned char>;

// A directory removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& dir() const { return m_dir; }
    std::string path(const std::string& name) const { return m_dir + "/" + name; }
    // Writes a file in the directory and answers its path.
    std::string write(const std::string& name, const Bytes& bytes) const;
    std::string writeText(const std::string& name, const std::string& text) const;

private:
    std::string m_dir;
};

Bytes readBytes(const std::string& path);
std::string readText(const std::string& path);

// A log writing into a temporary stream; text() answers everything so far.
class CapturedLog {
public:
    CapturedLog();
    ~CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    CLogWindow& log() { return m_log; }
    std::FILE* file() { return m_file; }  // for a writer of its own on the same stream
    std::string text() const;
    // The texts inside every error frame, in order.
    std::vector<std::string> errors() const;

private:
    std::FILE* m_file;
    CLogWindow m_log;
};

struct Outcome {
    int status = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs `program` with argv (argv[0] included, so that a test can give the
// program any invocation name), standard input from /dev/null.
Outcome runProgram(const std::string& program, const std::vector<std::string>& argv);

// A program running beside the test, in a process group of its own (so that
// the whole group can be killed at once), its output going to files.
struct Started {
    pid_t pid = -1;
    int input = -1;  // write end of its standard input (withInput), else -1
};
Started start(const std::vector<std::string>& argv, const std::string& outFile, const std::string& errFile,
              bool withInput = false, const std::string& program = "");
// Closes its standard input and answers its exit status (128 + signal
// number when killed); -1 when it has not ended within `seconds` (it is
// killed then). A negative `seconds` waits as long as it takes.
int finish(Started& program, double seconds);

}  // namespace testsupport
