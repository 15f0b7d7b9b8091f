// A minimal user of the access library for the black-box tests of
// `vjxsim run`: linked against the hardware libmerix32.so.5, it lists what the
// library it actually loaded reports.
#include <cstdio>

#include "libmerix32/merix32.h"

int main() {
    for (unsigned n = 0x1001;; ++n) {
        int h = -1;
        if (vjxOpen(&h, n) != 0) break;
        uint16_t id = 0;
        uint32_t key = 0;
        uint8_t version = 0;
        vjxDeviceInfo info{};
        vjxGetDeviceId(h, &id);
        vjxGetDeviceInfo(h, &info);
        vjxConfigDump(h, 0x2C, 4, &key);
        vjxReadOffset8(h, 2, 0x7C, &version);
        printf("card %x device %04x bus %u key %08x version %u\n", n, id, info.bus, key, version);
        vjxClose(h);
    }
    for (unsigned n = 0x1001;; ++n) {
        int h = -1;
        if (vjxOpenBridge(&h, n) != 0) break;
        uint8_t buses[2] = {};
        vjxConfigDump(h, 0x18, 2, buses);
        printf("bridge %x primary %u secondary %u\n", n, buses[0], buses[1]);
        vjxClose(h);
    }
    printf("processes %d\n", vjxGetActiveProcessCount());
    printf("error %s\n", vjxGetErrorString());
    return 0;
}
