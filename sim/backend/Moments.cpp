#include "Moments.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

// The process clock (clock/ProcessClock.c) of the shared library; tests that
// bind a rack in process have none.
extern "C" void vjxsim_process_clock_save(void) __attribute__((weak));
extern "C" void vjxsim_process_clock_step_wall_ns(int64_t ns) __attribute__((weak));

namespace sim {
namespace backend {

void deliverMoments(const std::vector<Moment>& moments, uint64_t before, uint64_t now) {
    for (const Moment& m : moments) {
        if (m.access <= before || m.access > now) continue;
        switch (m.kind) {
            case Moment::Kind::StdoutClosed: {
                int ends[2];
                if (pipe(ends) != 0) break;
                fflush(stdout);
                close(ends[0]);
                dup2(ends[1], STDOUT_FILENO);
                close(ends[1]);
                break;
            }
            case Moment::Kind::WallClockStep:
                if (vjxsim_process_clock_step_wall_ns)
                    vjxsim_process_clock_step_wall_ns(m.stepSeconds * 1000000000);
                break;
            case Moment::Kind::Signal:
                // A killed program cannot leave its clock behind as an ending
                // one does: the rack's time must not run back for the next.
                if (m.signal == SIGKILL && vjxsim_process_clock_save) vjxsim_process_clock_save();
                if (m.group)
                    kill(0, m.signal);
                else
                    kill(getpid(), m.signal);
                break;
        }
    }
}

}  // namespace backend
}  // namespace sim
