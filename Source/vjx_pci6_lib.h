// Device library of the VJX cards: opens and closes the driver, wraps an
// opened PCI function in a device handle with a small context, and reads and
// writes every named register (Source/registers.def) through the driver's
// device level.
#pragma once

#include <cstdint>
#include <type_traits>

#include "../driver/wdc_lib.h"

// Value type of a register of the given width in bits.
template <int Width>
using VJX_REG_VALUE = std::conditional_t<Width == 8, uint8_t, uint32_t>;

struct VJX_PCI6_INT_RESULT {
    DWORD dwCounter;  // interrupts seen since enabling
    DWORD dwLost;     // interrupts missed
};
typedef void (*VJX_PCI6_INT_HANDLER)(WDC_DEVICE_HANDLE device, const VJX_PCI6_INT_RESULT* result);

// Description of one address space, as VJX_PCI6_GetAddrSpaceInfo fills it.
struct VJX_PCI6_ADDR_SPACE_INFO {
    DWORD dwAddrSpace;  // in
    char sType[8];      // "Memory" or "I/O"
    char sName[128];    // "BAR n"
    char sDesc[128];    // range and length, or "Inactive address space"
};

DWORD VJX_PCI6_LibInit();
DWORD VJX_PCI6_LibUninit();

WDC_DEVICE_HANDLE VJX_PCI6_DeviceOpen(const WD_PCI_CARD_INFO* cardInfo);
bool VJX_PCI6_DeviceClose(WDC_DEVICE_HANDLE device);

DWORD VJX_PCI6_IntEnable(WDC_DEVICE_HANDLE device, VJX_PCI6_INT_HANDLER handler);
DWORD VJX_PCI6_IntDisable(WDC_DEVICE_HANDLE device);
bool VJX_PCI6_IntIsEnabled(WDC_DEVICE_HANDLE device);

DWORD VJX_PCI6_GetNumAddrSpaces(WDC_DEVICE_HANDLE device);
bool VJX_PCI6_GetAddrSpaceInfo(WDC_DEVICE_HANDLE device, VJX_PCI6_ADDR_SPACE_INFO* info);

// Last-error text of the library (at most 255 characters).
const char* VJX_PCI6_GetLastErr();

// VJX_PCI6_Read<REG>(device) and VJX_PCI6_Write<REG>(device, value) for every
// register. Reads ignore the access status; a failed read answers all ones.
#define VJX_REGISTER(NAME, SPACE, OFFSET, WIDTH)                        \
    VJX_REG_VALUE<WIDTH> VJX_PCI6_Read##NAME(WDC_DEVICE_HANDLE device); \
    DWORD VJX_PCI6_Write##NAME(WDC_DEVICE_HANDLE device, VJX_REG_VALUE<WIDTH> value);
#include "registers.def"
#undef VJX_REGISTER
