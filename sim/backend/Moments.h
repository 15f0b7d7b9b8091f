// Events delivered to a program run by `vjxsim run` at chosen moments of its
// work, counted in bus accesses (the trace's seq): a signal, the reader of
// its standard output going away, or a step of the machine's wall clock. A
// test picks the moments from a trace instead of from the time of day, so a
// kill lands in the same place on every run and many moments cost little.
//
//   N:SIGNAME[:group]   after access N, the signal (SIGINT, SIGTERM, SIGHUP,
//                       SIGQUIT, SIGKILL, SIGPIPE, SIGUSR1) to the program, or
//                       to its process group
//   N:stdout-closed     after access N, the program's standard output leads
//                       to a pipe whose reader has gone
//   N:wall-clock+S, N:wall-clock-S
//                       after access N, the time of day moves S seconds;
//                       the monotonic clock does not
#pragma once

#include <signal.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace sim {
namespace backend {

struct Moment {
    enum class Kind { Signal, StdoutClosed, WallClockStep };
    uint64_t access = 0;
    Kind kind = Kind::Signal;
    int signal = 0;
    bool group = false;
    int64_t stepSeconds = 0;
};

// A comma list of moments; false with the reason for anything else.
inline bool parseMoments(const std::string& text, std::vector<Moment>* out, std::string* error) {
    static const struct {
        const char* name;
        int number;
    } kSignals[] = {{"SIGINT", SIGINT},   {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP},  {"SIGQUIT", SIGQUIT},
                    {"SIGKILL", SIGKILL}, {"SIGPIPE", SIGPIPE}, {"SIGUSR1", SIGUSR1}};
    out->clear();
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? text.size() + 1 : comma + 1;
        auto bad = [&](const char* why) {
            *error = "'" + item + "': " + why;
            return false;
        };
        const size_t colon = item.find(':');
        if (colon == 0 || colon == std::string::npos) return bad("expected N:EVENT");
        char* end = nullptr;
        const std::string count = item.substr(0, colon);
        const unsigned long long n = std::strtoull(count.c_str(), &end, 10);
        if (*end || count[0] == '-' || count[0] == '+' || n == 0)
            return bad("N must be an access number from 1");
        Moment m;
        m.access = n;
        std::string event = item.substr(colon + 1);
        if (event == "stdout-closed") {
            m.kind = Moment::Kind::StdoutClosed;
        } else if (event.compare(0, 11, "wall-clock+") == 0 || event.compare(0, 11, "wall-clock-") == 0) {
            const std::string seconds = event.substr(11);
            const long long s = std::strtoll(seconds.c_str(), &end, 10);
            if (seconds.empty() || *end || seconds[0] == '-' || seconds[0] == '+')
                return bad("wall-clock needs a number of seconds");
            m.kind = Moment::Kind::WallClockStep;
            m.stepSeconds = event[10] == '-' ? -s : s;
        } else {
            const std::string suffix = ":group";
            if (event.size() > suffix.size() &&
                event.compare(event.size() - suffix.size(), suffix.size(), suffix) == 0) {
                m.group = true;
                event.resize(event.size() - suffix.size());
            }
            for (const auto& s : kSignals)
                if (event == s.name) m.signal = s.number;
            if (m.signal == 0)
                return bad(
                    "event must be SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGKILL, SIGPIPE or SIGUSR1 "
                    "(optionally :group), stdout-closed, or wall-clock+S / wall-clock-S");
        }
        out->push_back(m);
    }
    return true;
}

// Delivers the events of the accesses after `before` up to `now` (the
// library, after each call that accessed the bus).
void deliverMoments(const std::vector<Moment>& moments, uint64_t before, uint64_t now);

}  // namespace backend
}  // namespace sim
