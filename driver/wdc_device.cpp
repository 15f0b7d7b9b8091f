// Device level of the driver-call interface, shared by both programs: the
// process-wide driver handle and last-error text, bus scans in the form the
// PCI library wants, and the device record behind a device handle (slot,
// identity, registration with the driver, address spaces by BAR number).
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "wdc_lib.h"

namespace {

WD_HANDLE g_driver = WdInvalidHandle();
char g_lastError[256];

constexpr const char* kDeviceCreateNoMemory = vjx::platform::kWindows
                                                  ? "deviceCreate: Failed memory allocation\n"
                                                  : "MERIX_DeviceCreate: Failed memory allocation\n";
// Every status report of this level ends so; the Windows program brackets it.
constexpr const char* kScanFailed = vjx::platform::kWindows
                                        ? "PciScanDevices: Failed scanning PCI bus. Error [0x%lx - %s]\n"
                                        : "PciScanDevices: Failed scanning PCI bus. Error 0x%lx - %s\n";
constexpr const char* kSlotScanFailed = vjx::platform::kWindows
                                            ? "Failed scanning PCI bus. Error [0x%lx - %s]\n"
                                            : "Failed scanning PCI bus. Error 0x%lx - %s\n";
constexpr const char* kRegisterFailed = vjx::platform::kWindows
                                            ? "Failed registering the device. Error [0x%lx - %s]\n"
                                            : "Failed registering the device. Error 0x%lx - %s\n";
constexpr const char* kIntDisableFailed = vjx::platform::kWindows
                                              ? "Failed disabling interrupt. Error [0x%lx - %s]\n"
                                              : "Failed disabling interrupt. Error 0x%lx - %s\n";
constexpr const char* kUnregisterFailed =
    vjx::platform::kWindows ? "Failed unregistering the device (handle %p). Error [0x%lx - %s]\n"
                            : "Failed unregistering the device (handle %p). Error 0x%lx - %s\n";

constexpr DWORD kMaxBars = 6;

bool SameSlot(const WD_PCI_SLOT& a, const WD_PCI_SLOT& b) {
    return a.dwBus == b.dwBus && a.dwSlot == b.dwSlot && a.dwFunction == b.dwFunction;
}

DWORD ArgumentError(const char* what) {
    WdcSetLastErrStr("Error - %s\n", what);
    return WDC_STATUS_INVALID_PARAMETER;
}

// Finds the identity of the function at the record's slot by scanning every
// function on the bus.
DWORD PciSlotToId(WDC_DEVICE* dev) {
    WD_PCI_SCAN_CARDS scan;
    std::memset(&scan, 0, sizeof scan);
    DWORD status = WD_PciScanCards(WDC_GetWDHandle(), &scan);
    if (status != WD_STATUS_SUCCESS) {
        WdcSetLastErrStr(kSlotScanFailed, static_cast<unsigned long>(status), Stat2Str(status));
        return status;
    }
    const DWORD count = scan.dwCards < WD_PCI_CARDS ? scan.dwCards : WD_PCI_CARDS;
    for (DWORD i = 0; i < count; ++i) {
        if (SameSlot(scan.cardSlot[i], dev->slot)) {
            dev->id = scan.cardId[i];
            return WD_STATUS_SUCCESS;
        }
    }
    WdcSetLastErrStr("Failed to locate the device (bus: 0x%lx, slot: 0x%lx, function: 0x%lx)\n",
                     static_cast<unsigned long>(dev->slot.dwBus),
                     static_cast<unsigned long>(dev->slot.dwSlot),
                     static_cast<unsigned long>(dev->slot.dwFunction));
    return MERIX_DEVICE_NOT_FOUND;
}

// Address spaces from the resource items: one entry per BAR number up to the
// highest one any memory or I/O item names.
DWORD SetDeviceInfo(WDC_DEVICE* dev) {
    const WD_CARD& card = dev->cardReg.Card;
    const DWORD items = card.dwItems < WD_CARD_ITEMS ? card.dwItems : WD_CARD_ITEMS;
    DWORD spaces = 0;
    for (DWORD i = 0; i < items; ++i) {
        const WD_ITEM& item = card.Item[i];
        if (item.item == ITEM_INTERRUPT) {
            dev->Int.dwInterrupt = item.I.Int.dwInterrupt;
            dev->Int.dwOptions = item.I.Int.dwOptions;
            dev->Int.hInterrupt = item.I.Int.hInterrupt;
        } else if (item.item == ITEM_MEMORY && item.I.Mem.dwBar < kMaxBars) {
            if (item.I.Mem.dwBar + 1 > spaces) spaces = item.I.Mem.dwBar + 1;
        } else if (item.item == ITEM_IO && item.I.IO.dwBar < kMaxBars) {
            if (item.I.IO.dwBar + 1 > spaces) spaces = item.I.IO.dwBar + 1;
        }
    }
    dev->dwNumAddrSpaces = 0;
    if (spaces == 0) return WD_STATUS_SUCCESS;

    dev->pAddrDesc = new (std::nothrow) WDC_ADDR_SPACE[spaces]();
    if (!dev->pAddrDesc) {
        WdcSetLastErrStr("SetDeviceInfo: Failed memory allocation\n");
        return WDC_STATUS_NO_RESOURCES;
    }
    dev->dwNumAddrSpaces = spaces;
    for (DWORD i = 0; i < items; ++i) {
        const WD_ITEM& item = card.Item[i];
        if (item.item == ITEM_MEMORY && item.I.Mem.dwBar < kMaxBars) {
            WDC_ADDR_SPACE& space = dev->pAddrDesc[item.I.Mem.dwBar];
            space.dwAddrSpace = item.I.Mem.dwBar;
            space.fIsMemory = 1;
            space.dwItemIndex = i;
            space.qwBytes = item.I.Mem.qwBytes;
            space.kptAddr = item.I.Mem.pTransAddr;
            space.pUserDirectMemAddr = item.I.Mem.pUserDirectAddr;
        } else if (item.item == ITEM_IO && item.I.IO.dwBar < kMaxBars) {
            WDC_ADDR_SPACE& space = dev->pAddrDesc[item.I.IO.dwBar];
            space.dwAddrSpace = item.I.IO.dwBar;
            space.fIsMemory = 0;
            space.dwItemIndex = i;
            space.qwBytes = item.I.IO.dwBytes;
            space.kptAddr = item.I.IO.pAddr;
        }
    }
    return WD_STATUS_SUCCESS;
}

// Device record creation and destruction; the public calls below report
// their failures to the driver's debug output as well.
DWORD DeviceClose(WDC_DEVICE_HANDLE device);

DWORD DeviceOpen(WDC_DEVICE_HANDLE* device, const WD_PCI_CARD_INFO* info, void* context) {
    if (!device) return ArgumentError("NULL device handle pointer");
    *device = nullptr;
    if (!info) return ArgumentError("NULL device information pointer");

    WDC_DEVICE* dev = new (std::nothrow) WDC_DEVICE();
    if (!dev) {
        WdcSetLastErrStr("%s", kDeviceCreateNoMemory);
        return WDC_STATUS_NO_RESOURCES;
    }
    dev->slot = info->pciSlot;
    dev->cardReg.Card = info->Card;
    dev->pCtx = context;
    if (PciSlotToId(dev) != WD_STATUS_SUCCESS) {
        DeviceClose(dev);
        return WDC_STATUS_NO_RESOURCES;
    }

    DWORD status = WD_CardRegister(WDC_GetWDHandle(), &dev->cardReg);
    if (status != WD_STATUS_SUCCESS) {
        WdcSetLastErrStr(kRegisterFailed, static_cast<unsigned long>(status), Stat2Str(status));
        DeviceClose(dev);
        return status;
    }
    status = SetDeviceInfo(dev);
    if (status != WD_STATUS_SUCCESS) {
        DeviceClose(dev);
        return status;
    }
    *device = dev;
    return WD_STATUS_SUCCESS;
}

DWORD DeviceClose(WDC_DEVICE_HANDLE device) {
    if (!device) return ArgumentError("Invalid device handle");

    DWORD result = WD_STATUS_SUCCESS;
    if (WDC_IntIsEnabled(device)) {
        DWORD status = WDC_IntDisable(device);
        if (status != WD_STATUS_SUCCESS) {
            WDC_Err(kIntDisableFailed, static_cast<unsigned long>(status), Stat2Str(status));
            result = status;
        }
    }
    if (device->cardReg.hCard != 0) {
        const DWORD card = device->cardReg.hCard;
        DWORD status = WD_CardUnregister(WDC_GetWDHandle(), &device->cardReg);
        if (status != WD_STATUS_SUCCESS) {
            WdcSetLastErrStr(kUnregisterFailed, reinterpret_cast<void*>(static_cast<uintptr_t>(card)),
                             static_cast<unsigned long>(status), Stat2Str(status));
            result = status;
        }
    }
    delete[] device->pAddrDesc;
    delete device;
    return result;
}

}  // namespace

void WdcSetDriverHandle(WD_HANDLE handle) {
    g_driver = handle;
}

WD_HANDLE WDC_GetWDHandle() {
    return g_driver;
}

namespace {
char g_refusal[256];
char g_refusalTaken[256];
}  // namespace

void WdcNoteAccessRefusal(const char* reason) {
    if (g_refusal[0] || !reason || !reason[0]) return;
    std::snprintf(g_refusal, sizeof g_refusal, "%s", reason);
}

const char* WdcTakeAccessRefusal() {
    std::memcpy(g_refusalTaken, g_refusal, sizeof g_refusal);
    g_refusal[0] = '\0';
    return g_refusalTaken;
}

const char* WdcGetLastErrStr() {
    return g_lastError;
}

DWORD WdcSetLastErrStr(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_lastError, sizeof g_lastError, format, args);
    va_end(args);
    return WD_STATUS_SUCCESS;
}

DWORD WDC_PciScanDevices(DWORD vendorId, DWORD deviceId, WDC_PCI_SCAN_RESULT* result) {
    if (!result) return ArgumentError("NULL pointer to device scan results struct");

    WD_PCI_SCAN_CARDS scan;
    std::memset(&scan, 0, sizeof scan);
    scan.searchId.dwVendorId = vendorId;
    scan.searchId.dwDeviceId = deviceId;
    DWORD status = WD_PciScanCards(WDC_GetWDHandle(), &scan);
    if (status != WD_STATUS_SUCCESS) {
        WDC_Err(kScanFailed, static_cast<unsigned long>(status), Stat2Str(status));
        return status;
    }
    std::memset(result, 0, sizeof *result);
    result->dwNumDevices = scan.dwCards < WD_PCI_CARDS ? scan.dwCards : WD_PCI_CARDS;
    for (DWORD i = 0; i < result->dwNumDevices; ++i) {
        result->deviceId[i] = scan.cardId[i];
        result->deviceSlot[i] = scan.cardSlot[i];
    }
    return WD_STATUS_SUCCESS;
}

DWORD WDC_PciGetDeviceInfo(WD_PCI_CARD_INFO* info) {
    if (!info) return ArgumentError("NULL device information pointer");
    return WD_PciGetCardInfo(WDC_GetWDHandle(), info);
}

DWORD WDC_PciDeviceOpen(WDC_DEVICE_HANDLE* device, const WD_PCI_CARD_INFO* info, void* context) {
    const DWORD status = DeviceOpen(device, info, context);
    if (status != WD_STATUS_SUCCESS) WDC_Err("WDC_PciDeviceOpen: Error %s", WdcGetLastErrStr());
    return status;
}

DWORD WDC_PciDeviceClose(WDC_DEVICE_HANDLE device) {
    const DWORD status = DeviceClose(device);
    if (status != WD_STATUS_SUCCESS) WDC_Err("WDC_PciDeviceClose: Error %s", WdcGetLastErrStr());
    return status;
}

UINT64 WDC_AddrSpaceIsActive(WDC_DEVICE_HANDLE device, DWORD addrSpace) {
    if (!device || addrSpace >= device->dwNumAddrSpaces || !device->pAddrDesc) return 0;
    return device->pAddrDesc[addrSpace].qwBytes;
}

bool WDC_IntIsEnabled(WDC_DEVICE_HANDLE device) {
    return device && device->Int.fEnabled != 0;
}

void* WDC_GetDevContext(WDC_DEVICE_HANDLE device) {
    return device ? device->pCtx : nullptr;
}
