// The seam between the Windows adapter and the kernel driver: the three
// system calls by which the user-mode side reaches it. The Windows program
// makes them for real (KernelPort.cpp); a test build may answer them itself.
// Nothing above this seam differs between the two.
#pragma once

#include <cstdint>

namespace windrv {

// An open device of the kernel driver; null when none is open.
using DeviceHandle = void*;

// Opens the driver's device path for read access, shared read and write,
// existing only, overlapped. Null when it cannot be opened.
DeviceHandle OpenDevice(const char* path);
void CloseDevice(DeviceHandle handle);
// One device request: the record goes in and comes back filled, the
// driver's status word is written to *status. False when the request itself
// failed (the status then keeps what the caller put there).
bool Control(DeviceHandle handle, uint32_t code, void* record, uint32_t size, uint32_t* status);

}  // namespace windrv
