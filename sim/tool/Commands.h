// The subcommands of `vjxsim`. Each returns the process exit status and
// reports problems on standard error.
#pragma once

#include <string>
#include <vector>

namespace vjxsim {

int cmdNew(const std::string& dir, const std::vector<std::string>& cards);
int cmdSet(const std::string& dir, unsigned card, const std::vector<std::string>& options);
int cmdPowerCycle(const std::string& dir, unsigned card);  // 0: every card
int cmdShow(const std::string& dir, bool json);
int cmdDump(const std::string& dir, unsigned card, const std::string& part);
struct RunSettings {
    std::string dir;
    std::string trace;
    std::string traceOnly;
    std::string stats;
    std::string timing;
    std::string clock;            // "", "real" or "virtual"
    bool strict = false;          // the first rule a part sees broken ends the run (status 71)
    std::vector<std::string> at;  // N:EVENT (backend/Moments.h)
    std::vector<std::string> command;
};
int cmdRun(const RunSettings& settings, const char* argv0);
int cmdImageFpga(unsigned version, size_t size, const std::string& out);
int cmdImageFirmware(const std::string& version, unsigned isp, size_t size, const std::string& out);

// "vjxsim: <text>" on standard error; returns 1.
int error(const std::string& text);

}  // namespace vjxsim
