// The seam between the Windows program and the system below it: the calls by
// which the user-mode side reaches the kernel driver, the memory the driver
// maps for a registered card, the configuration manager and the shutdown
// calls. VJXFlash.exe makes them for real (KernelPort.cpp); the program for
// simulated cards answers them from the card simulator, and the native test
// build from a script. Nothing above this seam differs between them.
//
// The types are plain C++ so that the seam also builds on a non-Windows host.
#pragma once

#include <cstdint>

namespace windrv {

// ---- Kernel driver ------------------------------------------------------------

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

// ---- Memory the driver mapped into the process ----------------------------------
// Loads and stores at a user-mode address that card registration handed
// out. On a real machine these are plain volatile accesses.
uint8_t Load8(uint64_t address);
uint32_t Load32(uint64_t address);
void Store8(uint64_t address, uint8_t value);
void Store32(uint64_t address, uint32_t value);

// ---- Configuration manager (CR_SUCCESS is 0) -------------------------------------
// CM_Locate_DevNodeA: a null device ID names the root of the device tree.
uint32_t LocateDevNode(uint32_t* devInst, const char* deviceId, uint32_t flags);
// CM_Reenumerate_DevNode.
uint32_t ReenumerateDevNode(uint32_t devInst, uint32_t flags);

// ---- Shutdown ---------------------------------------------------------------------
using TokenHandle = void*;
// LookupPrivilegeValueA; the LUID as one 64-bit value (high part above).
bool LookupPrivilege(const char* systemName, const char* name, uint64_t* luid);
// OpenProcessToken on the current process with the given access mask.
bool OpenProcessToken(uint32_t access, TokenHandle* token);
// AdjustTokenPrivileges with one privilege and its attributes. False also
// when the call succeeded but did not assign the privilege.
bool AdjustTokenPrivilege(TokenHandle token, uint64_t luid, uint32_t attributes);
void CloseToken(TokenHandle token);
// ExitWindowsEx (ExitWindows itself is a macro of windows.h).
bool RequestExitWindows(uint32_t flags, uint32_t reason);

}  // namespace windrv
