#include "lock.h"

#include <cstdio>

#include "../../libmerix32/merix32.h"

int lockFlash() {
    // Any other process using the access library may be driving a card.
    if (vjxGetActiveProcessCount() > 1) {
        std::fputs("Can't lock VJX card.  Another process is using any of the VJX cards.\n", stderr);
        return 0;
    }
    if (vjxSetFlashActive(1) == 0) {
        std::fprintf(stderr, "%s\n", vjxGetErrorString());
        return 0;
    }
    return 1;
}

void unlockFlash() {
    (void)vjxSetFlashActive(0);
}
