// Uses the access library as vjxflash does before a command: counts the
// processes and sets the flash flag, reports on standard output, then holds
// the flag until it is killed or its standard input closes.
#include <cstdio>

#include "libmerix32/merix32.h"

int main() {
    int count = vjxGetActiveProcessCount();
    if (!vjxSetFlashActive(1)) {
        std::printf("refused %s\n", vjxGetErrorString());
        return 1;
    }
    std::printf("holding (%d processes)\n", count);
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    vjxSetFlashActive(0);
    return 0;
}
