// libmerix32.so.5 on real hardware: the C interface over the sysfs backend,
// with the process count and flash flag in the machine's lock directory.
#include <string>

#include "../merix32.h"
#include "../registry.h"
#include "SysfsBackend.h"

namespace {

constexpr const char* kPciDevices = "/sys/bus/pci/devices";
// World-writable (sticky) directory shared by every process on the machine.
constexpr const char* kRuntimeDir = "/run/lock/merix32";

merix::SysfsBackend& backend() {
    static merix::SysfsBackend instance(kPciDevices);
    return instance;
}

// The first call of any function counts the calling process as a user of
// the library. A registration that fails is tried again only by the lock
// functions, which report why; register access stays cheap.
merix::Registry& registry() {
    static merix::Registry instance(kRuntimeDir);
    static bool attempted = false;
    if (!attempted) {
        attempted = true;
        instance.registerProcess(nullptr);
    }
    return instance;
}

merix::SysfsBackend& use() {
    registry();
    return backend();
}

}  // namespace

extern "C" {

int vjxOpen(int* handle, unsigned number) {
    return use().open(handle, number, false);
}

int vjxOpenBridge(int* handle, unsigned number) {
    return use().open(handle, number, true);
}

int vjxClose(int handle) {
    return use().close(handle);
}

int vjxGetDeviceId(int handle, uint16_t* deviceId) {
    return use().getDeviceId(handle, deviceId);
}

int vjxGetDeviceInfo(int handle, vjxDeviceInfo* info) {
    return use().getDeviceInfo(handle, info);
}

int vjxConfigDump(int handle, unsigned offset, unsigned count, void* buffer) {
    return use().configDump(handle, offset, count, buffer);
}

int vjxReadOffset8(int handle, uint8_t space, unsigned offset, uint8_t* value) {
    return use().read8(handle, space, offset, value);
}

int vjxReadOffset32(int handle, uint8_t space, unsigned offset, uint32_t* value) {
    return use().read32(handle, space, offset, value);
}

int vjxWriteOffset8(int handle, uint8_t space, unsigned offset, uint8_t value) {
    return use().write8(handle, space, offset, value);
}

int vjxWriteOffset32(int handle, uint8_t space, unsigned offset, uint32_t value) {
    return use().write32(handle, space, offset, value);
}

int vjxGetActiveProcessCount(void) {
    std::string error;
    merix::Registry& reg = registry();
    if (!reg.registerProcess(&error)) {
        backend().setError("Process count: " + error);
        return -1;
    }
    return reg.activeProcessCount();
}

int vjxSetFlashActive(int on) {
    std::string error;
    merix::Registry& reg = registry();
    if (on && !reg.registerProcess(&error)) {
        backend().setError("Flash lock: " + error);
        return 0;
    }
    if (!reg.setFlashActive(on != 0, &error)) {
        backend().setError(error);
        return 0;
    }
    return 1;
}

const char* vjxGetErrorString(void) {
    return backend().errorString();
}

}  // extern "C"
