// How vjxflash meets the signals that end a process. Once a card is being
// written, an interrupt, a hang-up, a quit or a request to terminate would
// leave it half programmed (an erased configuration device, a microcontroller
// without firmware): from then on they are held and the program ends after
// the command's closing report. A reader that goes away never ends it.
#pragma once

// From the start: a write to a closed pipe fails (EPIPE) instead of ending
// the process.
void IgnoreBrokenPipe();
// From the first write to a card until the process ends: SIGINT, SIGTERM,
// SIGHUP and SIGQUIT are held; the first one says so on standard error. The
// exit status stays the one the command gives.
void HoldEndSignals();
