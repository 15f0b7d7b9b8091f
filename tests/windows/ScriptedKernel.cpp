#include "ScriptedKernel.h"

#include <algorithm>
#include <cstdio>
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
    if (handle != &g_device) return false;
    if (code == k.scriptedCode) {
        *status = k.scriptedStatus;
        return true;
    }
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

namespace windrv {

namespace {

void Access(uint64_t address, const char* what) {
    char line[64];
    std::snprintf(line, sizeof line, "%s %llx", what, static_cast<unsigned long long>(address));
    kernel::state().accesses.push_back(line);
}

bool SystemCall(const std::string& call) {
    kernel::State& k = kernel::state();
    k.systemCalls.push_back(call);
    for (const std::string& failing : k.alsoFailing)
        if (call.rfind(failing, 0) == 0) return false;
    return k.failingCall.empty() || call.rfind(k.failingCall, 0) != 0;
}

}  // namespace

uint8_t Load8(uint64_t address) {
    Access(address, "load8");
    return 0xFF;
}

uint32_t Load32(uint64_t address) {
    Access(address, "load32");
    return 0xFFFFFFFF;
}

void Store8(uint64_t address, uint8_t) {
    Access(address, "store8");
}

void Store32(uint64_t address, uint32_t) {
    Access(address, "store32");
}

uint32_t LocateDevNode(uint32_t* devInst, const char* deviceId, uint32_t flags) {
    const bool ok =
        SystemCall("locate " + std::string(deviceId ? deviceId : "(root)") + " " + std::to_string(flags));
    *devInst = 0x51;
    return ok ? 0 : 0x0D;  // CR_NO_SUCH_DEVNODE
}

uint32_t ReenumerateDevNode(uint32_t devInst, uint32_t flags) {
    return SystemCall("reenumerate " + std::to_string(devInst) + " " + std::to_string(flags)) ? 0 : 0x17;
}

bool LookupPrivilege(const char* systemName, const char* name, uint64_t* luid) {
    *luid = 0x1300000013ull;
    return SystemCall(std::string("privilege ") + (systemName ? systemName : "(local)") + " " + name);
}

bool OpenProcessToken(uint32_t access, TokenHandle* token) {
    static char g_token;
    *token = &g_token;
    char line[32];
    std::snprintf(line, sizeof line, "token 0x%x", access);
    return SystemCall(line);
}

bool AdjustTokenPrivilege(TokenHandle, uint64_t luid, uint32_t attributes) {
    char line[64];
    std::snprintf(line, sizeof line, "adjust %llx %u", static_cast<unsigned long long>(luid), attributes);
    return SystemCall(line);
}

void CloseToken(TokenHandle) {
    SystemCall("close token");
}

bool RequestExitWindows(uint32_t flags, uint32_t reason) {
    char line[48];
    std::snprintf(line, sizeof line, "exit %u 0x%x", flags, reason);
    return SystemCall(line);
}

}  // namespace windrv
