// Runs a program as a child process and collects what it wrote.
#pragma once

#include <string>
#include <vector>

namespace foundation {

struct Outcome {
    int status = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs `program` with argv (argv[0] included, so that tests can give the
// program any invocation name).
Outcome runProgram(const std::string& program, const std::vector<std::string>& argv);

}  // namespace foundation
