// Asks for the access library's lock as vjxflash does (no other process
// using the library, then the flash flag), says on standard output whether
// it got it, and stays until its standard input closes: the tests hold a
// locking or a refused program as long as they like. Linked against the
// hardware libmerix32.so.5; `vjxsim run` puts the simulated one in its place.
#include <cstdio>

#include "libmerix32/merix32.h"

int main() {
    const int count = vjxGetActiveProcessCount();
    const bool held = count <= 1 && vjxSetFlashActive(1);
    if (held)
        std::printf("holding (%d processes)\n", count);
    else if (count > 1)
        std::puts("refused");
    else
        std::printf("refused %s\n", vjxGetErrorString());
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    if (held) vjxSetFlashActive(0);
    return 0;
}
