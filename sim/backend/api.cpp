// libmerix32.so.5 over the card simulator: the library's C interface.
#include "SimBackend.h"

using sim::PciFunction;
using sim::backend::SimBackend;

extern "C" {

int vjxOpen(int* handle, unsigned number) {
    return SimBackend::instance().open(handle, number, PciFunction::Kind::Card);
}

int vjxOpenBridge(int* handle, unsigned number) {
    return SimBackend::instance().open(handle, number, PciFunction::Kind::Bridge);
}

int vjxClose(int handle) {
    return SimBackend::instance().close(handle);
}

int vjxGetDeviceId(int handle, uint16_t* deviceId) {
    return SimBackend::instance().getDeviceId(handle, deviceId);
}

int vjxGetDeviceInfo(int handle, vjxDeviceInfo* info) {
    return SimBackend::instance().getDeviceInfo(handle, info);
}

int vjxConfigDump(int handle, unsigned offset, unsigned count, void* buffer) {
    return SimBackend::instance().configDump(handle, offset, count, buffer);
}

int vjxReadOffset8(int handle, uint8_t space, unsigned offset, uint8_t* value) {
    if (!value) return SimBackend::instance().read(handle, space, offset, 8, nullptr);
    uint32_t v = 0;
    int status = SimBackend::instance().read(handle, space, offset, 8, &v);
    if (status == 0) *value = static_cast<uint8_t>(v);
    return status;
}

int vjxReadOffset32(int handle, uint8_t space, unsigned offset, uint32_t* value) {
    return SimBackend::instance().read(handle, space, offset, 32, value);
}

int vjxWriteOffset8(int handle, uint8_t space, unsigned offset, uint8_t value) {
    return SimBackend::instance().write(handle, space, offset, 8, value);
}

int vjxWriteOffset32(int handle, uint8_t space, unsigned offset, uint32_t value) {
    return SimBackend::instance().write(handle, space, offset, 32, value);
}

int vjxGetActiveProcessCount(void) {
    return SimBackend::instance().activeProcessCount();
}

int vjxSetFlashActive(int on) {
    return SimBackend::instance().setFlashActive(on);
}

const char* vjxGetErrorString(void) {
    return SimBackend::instance().errorString();
}

}  // extern "C"
