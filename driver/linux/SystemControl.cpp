// The Linux program leaves the device tree and restarting to the system's
// own tools.
#include "../SystemControl.h"

bool ReenumerateAllDevices() {
    return false;
}

bool RebootSystem() {
    return false;
}
