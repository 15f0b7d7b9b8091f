#include "signals.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kHeld[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile sig_atomic_t g_held = 0;

const char kHeldText[] =
    "vjxflash: the card is being programmed; the update finishes first, then vjxflash ends.\n";

void onEndSignal(int signal) {
    if (g_held != 0) return;
    g_held = signal;
    const int saved = errno;
    // Standard error may be gone as well; nothing else could be told then.
    ssize_t ignored = write(STDERR_FILENO, kHeldText, sizeof kHeldText - 1);
    (void)ignored;
    errno = saved;
}

}  // namespace

void IgnoreBrokenPipe() {
    signal(SIGPIPE, SIG_IGN);
}

void HoldEndSignals() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onEndSignal;
    // Interrupted calls go on: the engines' waits and the access library's
    // file operations must not see the signal.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int s : kHeld) sigaddset(&action.sa_mask, s);
    for (int s : kHeld) sigaction(s, &action, nullptr);
}
