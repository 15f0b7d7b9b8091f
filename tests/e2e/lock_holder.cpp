// A program that asks for the access library's lock as vjxflash does, says
// whether it would be refused, and then stays until its standard input
// closes: the test holds a refused program as long as it likes. Linked
// against the hardware libmerix32.so.5; `vjxsim run` puts the simulated one
// in its place.
#include <unistd.h>

#include <cstdio>

#include "libmerix32/merix32.h"

int main() {
    const int processes = vjxGetActiveProcessCount();
    std::printf("%s\n", processes > 1 ? "refused" : "alone");
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    return 0;
}
