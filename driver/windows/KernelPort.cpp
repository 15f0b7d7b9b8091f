// The seam to the system below the Windows program, through the Win32
// calls of a real machine.
#include "KernelPort.h"

#include <windows.h>
// After windows.h:
#include <cfgmgr32.h>

namespace windrv {

DeviceHandle OpenDevice(const char* path) {
    HANDLE h = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

void CloseDevice(DeviceHandle handle) {
    if (handle) ::CloseHandle(handle);
}

bool Control(DeviceHandle handle, uint32_t code, void* record, uint32_t size, uint32_t* status) {
    DWORD returned = 0;
    DWORD answer = *status;
    const BOOL ok = ::DeviceIoControl(handle, code, record, size, &answer, sizeof answer, &returned, nullptr);
    *status = answer;
    return ok != FALSE;
}

}  // namespace windrv

namespace windrv {

uint8_t Load8(uint64_t address) {
    return *reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(address));
}

uint32_t Load32(uint64_t address) {
    return *reinterpret_cast<volatile uint32_t*>(static_cast<uintptr_t>(address));
}

void Store8(uint64_t address, uint8_t value) {
    *reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(address)) = value;
}

void Store32(uint64_t address, uint32_t value) {
    *reinterpret_cast<volatile uint32_t*>(static_cast<uintptr_t>(address)) = value;
}

uint32_t LocateDevNode(uint32_t* devInst, const char* deviceId, uint32_t flags) {
    DEVINST node = 0;
    const CONFIGRET result = ::CM_Locate_DevNodeA(&node, const_cast<char*>(deviceId), flags);
    if (devInst) *devInst = node;
    return result;
}

uint32_t ReenumerateDevNode(uint32_t devInst, uint32_t flags) {
    return ::CM_Reenumerate_DevNode(devInst, flags);
}

bool LookupPrivilege(const char* systemName, const char* name, uint64_t* luid) {
    LUID value{};
    if (!::LookupPrivilegeValueA(systemName, name, &value)) return false;
    *luid = (static_cast<uint64_t>(static_cast<uint32_t>(value.HighPart)) << 32) | value.LowPart;
    return true;
}

bool OpenProcessToken(uint32_t access, TokenHandle* token) {
    HANDLE handle = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), access, &handle)) return false;
    *token = handle;
    return true;
}

bool AdjustTokenPrivilege(TokenHandle token, uint64_t luid, uint32_t attributes) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = static_cast<DWORD>(luid);
    privileges.Privileges[0].Luid.HighPart = static_cast<LONG>(luid >> 32);
    privileges.Privileges[0].Attributes = attributes;
    if (!::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr)) return false;
    // The call succeeds also when it could not assign the privilege.
    return ::GetLastError() == ERROR_SUCCESS;
}

void CloseToken(TokenHandle token) {
    if (token) ::CloseHandle(token);
}

bool RequestExitWindows(uint32_t flags, uint32_t reason) {
    return ::ExitWindowsEx(flags, reason) != FALSE;
}

}  // namespace windrv
