// Device-level calls that depend on the Linux adapter: opening the driver,
// 8- and 32-bit register access through the registered card's library
// handle, the (unsupported) interrupts, debug output and status texts.
#include <cstring>

#include "../wdc_lib.h"
#include "MerixHandle.h"

namespace {

// The registered library handle of a device, or -1 (which the library
// refuses) when the device is not registered.
int CardHandle(WDC_DEVICE_HANDLE device) {
    return device->cardReg.hCard != 0 ? static_cast<int>(device->cardReg.hCard - 1) : -1;
}

// A refused register access keeps the library's reason (no rights on the
// card's register files, most often) for the program to show.
DWORD Refused() {
    WdcNoteAccessRefusal(vjxGetErrorString());
    return MERIX_FAILED;
}

}  // namespace

DWORD WDC_DriverOpen(DWORD) {
    if (WdHandleValid(WDC_GetWDHandle())) return MERIX_ALREADY_DONE;
    WdcSetDriverHandle(WD_Open());
    return WD_STATUS_SUCCESS;
}

DWORD WDC_DriverClose() {
    WD_HANDLE handle = WDC_GetWDHandle();
    if (WdHandleValid(handle)) WD_Close(handle);
    WdcSetDriverHandle(WdInvalidHandle());
    return WD_STATUS_SUCCESS;
}

DWORD WDC_SetDebugOptions(DWORD) {
    return WD_STATUS_SUCCESS;
}

void WDC_Err(const char*, ...) {}

// A failed read answers all ones, as a PCI read that no target claims does.
DWORD WDC_ReadAddr8(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint8_t* value) {
    if (!value) return MERIX_INVALID_PARAMETER;
    *value = 0xFF;
    if (!device) return MERIX_INVALID_PARAMETER;
    uint8_t v = 0;
    if (vjxReadOffset8(CardHandle(device), static_cast<uint8_t>(addrSpace), offset, &v) != 0)
        return Refused();
    *value = v;
    return WD_STATUS_SUCCESS;
}

DWORD WDC_ReadAddr32(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint32_t* value) {
    if (!value) return MERIX_INVALID_PARAMETER;
    *value = 0xFFFFFFFF;
    if (!device) return MERIX_INVALID_PARAMETER;
    uint32_t v = 0;
    if (vjxReadOffset32(CardHandle(device), static_cast<uint8_t>(addrSpace), offset, &v) != 0)
        return Refused();
    *value = v;
    return WD_STATUS_SUCCESS;
}

DWORD WDC_WriteAddr8(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint8_t value) {
    if (!device) return MERIX_INVALID_PARAMETER;
    if (vjxWriteOffset8(CardHandle(device), static_cast<uint8_t>(addrSpace), offset, value) != 0)
        return Refused();
    return WD_STATUS_SUCCESS;
}

DWORD WDC_WriteAddr32(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint32_t value) {
    if (!device) return MERIX_INVALID_PARAMETER;
    if (vjxWriteOffset32(CardHandle(device), static_cast<uint8_t>(addrSpace), offset, value) != 0)
        return Refused();
    return WD_STATUS_SUCCESS;
}

// The library delivers no interrupts.
DWORD WDC_IntEnable(WDC_DEVICE_HANDLE, WDC_INT_HANDLER, void*) {
    return MERIX_NOT_IMPLEMENTED;
}
DWORD WDC_IntDisable(WDC_DEVICE_HANDLE) {
    return MERIX_NOT_IMPLEMENTED;
}

namespace {

struct StatusText {
    DWORD status;
    const char* text;
};

constexpr StatusText kStatusTexts[] = {
    {WD_STATUS_SUCCESS, "Success"},
    {MERIX_FAILED, "Operation failed"},
    {MERIX_INVALID_PARAMETER, "Invalid parameter"},
    {MERIX_ALREADY_DONE, "Operation already done"},
    {MERIX_DEVICE_NOT_FOUND, "Device not found"},
    {MERIX_INSUFFICIENT_RESOURCES, "Insufficient ressources"},
    {MERIX_INVALID_HANDLE, "Invalid handle"},
    {MERIX_NEED_ROOT, "Need root privileges (use 'sudo')"},
    {MERIX_LESS_DATA, "Got less data that requested"},
    {MERIX_NOT_IMPLEMENTED, "Not implemented"},
    {MERIX_NOT_MAPPED, "Region was not mapped"},
};

}  // namespace

// Codes of this adapter by their texts; any other value is a system error
// number.
const char* Stat2Str(DWORD status) {
    for (const StatusText& entry : kStatusTexts)
        if (entry.status == status) return entry.text;
    return std::strerror(static_cast<int>(status));
}
