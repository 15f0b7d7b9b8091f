// PCI library: finds, counts, opens and closes PCI functions by vendor ID,
// device ID and index, reaches their configuration space and the card's
// named registers, and keeps one process-wide error text.
#pragma once

#include <cstdint>

#include "vjx_pci6_lib.h"

// An open card: its device handle (never null while open) and its slot.
struct VJX_PCI_STRUCT {
    WDC_DEVICE_HANDLE hDevice;
    WD_PCI_SLOT slot;
};

// The library's last error; every message rewrites it whole.
constexpr unsigned VJX_PCI_ERROR_SIZE = 1024;
extern char VJX_PCI_ErrorString[VJX_PCI_ERROR_SIZE];
void VJX_PCI_ERR(const char* format, ...) __attribute__((format(printf, 1, 2)));

DWORD VJX_PCI_LibInit();
void VJX_PCI_LibUninit();

DWORD VJX_PCI_CountCards(DWORD vendorId, DWORD deviceId);
// 1 when the driver version is high enough for this program; otherwise 0
// with the reason in VJX_PCI_ErrorString (version 0: nothing was reported).
int VJX_PCI_DriverVersionOk(DWORD version);

int VJX_PCI_Open(VJX_PCI_STRUCT** card, DWORD vendorId, DWORD deviceId, DWORD index);
void VJX_PCI_Close(VJX_PCI_STRUCT* card);
void VJX_PCI_GetPciSlot(const VJX_PCI_STRUCT* card, WD_PCI_SLOT* slot);

int DeviceFindEx(DWORD vendorId, DWORD deviceId, DWORD index, WD_PCI_SLOT* slot);
WDC_DEVICE_HANDLE DeviceOpen(const WD_PCI_SLOT* slot);
void DeviceClose(WDC_DEVICE_HANDLE device);

int PCI_Get_WD_handle(WD_HANDLE* handle);
// Configuration space: count (1 to 4) bytes from offset, low byte first.
uint32_t PCI_ReadBytes(WD_HANDLE handle, WD_PCI_SLOT slot, DWORD offset, DWORD count);
void PCI_WriteBytes(WD_HANDLE handle, WD_PCI_SLOT slot, DWORD offset, DWORD count, uint32_t value);

// One byte anywhere in an address space of the card.
uint8_t VJX_PCI_ReadByte(VJX_PCI_STRUCT* card, DWORD addrSpace, DWORD offset);

// VJX_PCI_Read<REG>(card) and VJX_PCI_Write<REG>(card, value) for every
// register, over the device library's accessor of the same name; values of
// 8-bit registers are masked to 8 bits.
#define VJX_REGISTER(NAME, SPACE, OFFSET, WIDTH)                   \
    VJX_REG_VALUE<WIDTH> VJX_PCI_Read##NAME(VJX_PCI_STRUCT* card); \
    void VJX_PCI_Write##NAME(VJX_PCI_STRUCT* card, uint32_t value);
#include "registers.def"
#undef VJX_REGISTER
