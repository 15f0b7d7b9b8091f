// The driver-call interface in WinDriver terms, two levels: the low level
// (WD_) talks to the driver itself, the device level (WDC_) keeps a record per
// opened PCI function and reads and writes its address spaces. The Linux
// program implements the low level over libmerix32 (driver/linux/), the
// Windows program over the kernel driver; the device level (wdc_device.cpp)
// is shared.
#pragma once

#include <cstdint>

#include "../platform/platform.h"
#include "wd_types.h"

// ---- Status codes --------------------------------------------------------
// 0 is success; failures are 0x2000xxxx. The Linux adapter's own codes:
enum : DWORD {
    WD_STATUS_SUCCESS = 0,
    MERIX_FAILED = 0x20000000,
    MERIX_INVALID_PARAMETER = 0x20000001,
    MERIX_ALREADY_DONE = 0x20000002,
    MERIX_DEVICE_NOT_FOUND = 0x20000003,
    MERIX_INSUFFICIENT_RESOURCES = 0x20000004,
    MERIX_INVALID_HANDLE = 0x20000005,
    MERIX_NEED_ROOT = 0x20000006,
    MERIX_LESS_DATA = 0x20000007,
    MERIX_NOT_IMPLEMENTED = 0x20000008,
    MERIX_NOT_MAPPED = 0x20000009,
};

// Codes the shared device level and device library return; the two drivers
// number some of them differently.
constexpr DWORD WDC_STATUS_FAILED = 0x20000000;
constexpr DWORD WDC_STATUS_INVALID_PARAMETER = vjx::platform::kWindows ? 0x2000001B : 0x20000001;
constexpr DWORD WDC_STATUS_NO_RESOURCES = vjx::platform::kWindows ? 0x20000005 : 0x20000004;
constexpr DWORD WDC_STATUS_ALREADY_DONE = vjx::platform::kWindows ? 0x20000011 : 0x20000002;
constexpr DWORD WDC_STATUS_INT_ALREADY_ENABLED = 0x20000002;
constexpr DWORD WDC_STATUS_DRIVER_NAME_FAILED = 0x20000007;

// The driver handle while the driver is not open.
inline WD_HANDLE WdInvalidHandle() {
    return reinterpret_cast<WD_HANDLE>(~uintptr_t(0));
}
inline bool WdHandleValid(WD_HANDLE h) {
    return h != nullptr && h != WdInvalidHandle();
}

// Debug options of WDC_SetDebugOptions.
enum : DWORD {
    WDC_DBG_OUT_DBM = 0x1,
    WDC_DBG_OUT_FILE = 0x2,
    WDC_DBG_LEVEL_ERR = 0x10,
    WDC_DBG_LEVEL_TRACE = 0x20,
    WDC_DBG_NONE = 0x100,
};

// Options of WDC_DriverOpen.
constexpr DWORD WDC_DRV_OPEN_DEFAULT = 0;

// ---- Device record ---------------------------------------------------------
typedef void (*WDC_INT_HANDLER)(void* context);

struct WDC_INTERRUPT {
    DWORD dwInterrupt;
    DWORD dwOptions;
    DWORD hInterrupt;         // the kernel driver's handle of the interrupt (registration gives it)
    WD_TRANSFER* pTransCmds;  // commands run at each interrupt
    DWORD dwNumCmds;
    DWORD fEnabled;
    DWORD dwCounter;
    DWORD dwLost;
    WDC_INT_HANDLER handler;
    void* handlerContext;
};

struct WDC_DEVICE {
    WD_PCI_ID id;
    WD_PCI_SLOT slot;
    DWORD dwNumAddrSpaces;
    WDC_ADDR_SPACE* pAddrDesc;  // one per BAR number up to the highest used
    WD_CARD_REGISTER cardReg;
    WDC_INTERRUPT Int;
    void* pCtx;  // the caller's context
};

// ---- Low level -------------------------------------------------------------
WD_HANDLE WD_Open();
void WD_Close(WD_HANDLE handle);
DWORD WD_Version(WD_HANDLE handle, WD_VERSION* version);
DWORD WD_PciScanCards(WD_HANDLE handle, WD_PCI_SCAN_CARDS* scan);
DWORD WD_PciGetCardInfo(WD_HANDLE handle, WD_PCI_CARD_INFO* info);
DWORD WD_PciConfigDump(WD_HANDLE handle, WD_PCI_CONFIG_DUMP* dump);
DWORD WD_CardRegister(WD_HANDLE handle, WD_CARD_REGISTER* card);
DWORD WD_CardUnregister(WD_HANDLE handle, WD_CARD_REGISTER* card);
// Windows program only: the name of the kernel driver's device, a single
// transfer at an I/O port and disabling an interrupt.
DWORD WD_SetDriverName(const char* name);
DWORD WD_Transfer(WD_HANDLE handle, WD_TRANSFER* transfer);
DWORD WD_IntDisable(WD_HANDLE handle, WD_INTERRUPT* interrupt);

// ---- Device level ----------------------------------------------------------
DWORD WDC_DriverOpen(DWORD options);
DWORD WDC_DriverClose();
WD_HANDLE WDC_GetWDHandle();
DWORD WDC_SetDebugOptions(DWORD options);

DWORD WDC_PciScanDevices(DWORD vendorId, DWORD deviceId, WDC_PCI_SCAN_RESULT* result);
DWORD WDC_PciGetDeviceInfo(WD_PCI_CARD_INFO* info);
DWORD WDC_PciDeviceOpen(WDC_DEVICE_HANDLE* device, const WD_PCI_CARD_INFO* info, void* context);
DWORD WDC_PciDeviceClose(WDC_DEVICE_HANDLE device);

DWORD WDC_ReadAddr8(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint8_t* value);
DWORD WDC_ReadAddr32(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint32_t* value);
DWORD WDC_WriteAddr8(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint8_t value);
DWORD WDC_WriteAddr32(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint32_t value);
// The length of the address space (non-zero when it is active); 0 for a
// space the device does not have.
UINT64 WDC_AddrSpaceIsActive(WDC_DEVICE_HANDLE device, DWORD addrSpace);

DWORD WDC_IntEnable(WDC_DEVICE_HANDLE device, WDC_INT_HANDLER handler, void* context);
DWORD WDC_IntDisable(WDC_DEVICE_HANDLE device);
bool WDC_IntIsEnabled(WDC_DEVICE_HANDLE device);
void* WDC_GetDevContext(WDC_DEVICE_HANDLE device);

// Last-error text of this layer (256 bytes, always terminated).
const char* WdcGetLastErrStr();
DWORD WdcSetLastErrStr(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The reason the access library gave when it refused a register access
// (the first one since it was last taken), kept because a refused read
// otherwise shows only as all ones. Taking it answers "" when there was none
// and forgets it.
void WdcNoteAccessRefusal(const char* reason);
const char* WdcTakeAccessRefusal();
// Error-level debug message (discarded by the Linux program).
void WDC_Err(const char* format, ...) __attribute__((format(printf, 1, 2)));
const char* Stat2Str(DWORD status);

// Used by the adapters' WDC_DriverOpen / WDC_DriverClose to keep the one
// process-wide driver handle.
void WdcSetDriverHandle(WD_HANDLE handle);
