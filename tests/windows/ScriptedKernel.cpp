#include "ScriptedKernel.h"

#include <cstring>

#include "driver/wd_types.h"
#include "driver/windows/KernelPort.h"

namespace kernel {

State& state() {
    static State s;
    return s;
}

}  // namespace kernel

namespace windrv {

namespace {
char g_device;  // the one device's handle
}

DeviceHandle OpenDevice(const char* path) {
    kernel::State& k = kernel::state();
    k.devicePath = path;
    ++k.opens;
    return k.present ? &g_device : nullptr;
}

void CloseDevice(DeviceHandle) {
    ++kernel::state().closes;
}

// The version and bus-scan requests answered as the driver does; every
// other request is recorded and left with the status the caller preset.
bool Control(DeviceHandle handle, uint32_t code, void* record, uint32_t size, uint32_t* status) {
    kernel::State& k = kernel::state();
    const unsigned char* bytes = static_cast<const unsigned char*>(record);
    k.requests.push_back({code, size, std::vector<unsigned char>(bytes, bytes + size)});
    if (handle != &g_device || !k.answer) return false;
    if (code == 0x95383443 && size == sizeof(WD_VERSION)) {
        static_cast<WD_VERSION*>(record)->dwVer = k.version;
        *status = 0;
    } else if (code == 0x9538368F && size == sizeof(WD_PCI_SCAN_CARDS)) {
        static_cast<WD_PCI_SCAN_CARDS*>(record)->dwCards = k.cards;
        *status = 0;
    }
    return true;
}

}  // namespace windrv
