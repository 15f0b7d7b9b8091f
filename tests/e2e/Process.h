// Running the programs under test as child processes.
#pragma once

#include <string>
#include <vector>

namespace e2e {

struct Result {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs argv[0] with the arguments; captures standard output and error.
Result run(const std::vector<std::string>& argv);

// A fresh temporary directory, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path);

// Convenience wrappers around the three programs.
Result vjxsim(const std::vector<std::string>& args);
Result tcftool(const std::vector<std::string>& args);
// vjxsim run RACK [extra run options] -- vjxflash ARGS...
Result vjxflashOn(const std::string& rack, const std::vector<std::string>& args,
                  const std::vector<std::string>& runOptions = {});

}  // namespace e2e
