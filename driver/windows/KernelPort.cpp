// The kernel driver's device through the Win32 calls.
#include "KernelPort.h"

#include <windows.h>

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
