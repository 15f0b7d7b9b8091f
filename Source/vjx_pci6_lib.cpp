// Device library of the VJX cards over the driver's device level.
#include "vjx_pci6_lib.h"

#include <cstdarg>
#include <cstdio>
#include <new>

namespace {

using vjx::platform::kWindows;

char g_lastErr[256];

// The driver library's name in the texts: WinDriver's WDC on Windows, the
// MERIX adapter on Linux.
constexpr const char* kDebugOptionsFailed =
    kWindows ? "Failed to initialize debug options for WDC library.\nError 0x%lx - %s\n"
             : "Failed to initialize debug options for MERIX library.\nError 0x%lx - %s\n";
constexpr const char* kDriverOpenFailed = kWindows
                                              ? "Failed to initialize the WDC library. Error 0x%lx - %s\n"
                                              : "Failed to initialize the MERIX library. Error 0x%lx - %s\n";
// One text in both programs.
constexpr const char* kDriverCloseFailed = "Failed to uninit the MERIX library. Error 0x%lx - %s\n";
constexpr const char* kDeviceOpenFailed = kWindows
                                              ? "Failed opening a WDC device handle. Error 0x%lx - %s\n"
                                              : "Failed opening a MERIX device handle. Error 0x%lx - %s\n";
constexpr const char* kDeviceCloseFailed =
    kWindows ? "Failed closing a WDC device handle (0x%p). Error 0x%lx - %s\n"
             : "Failed closing a MERIX device handle (0x%p). Error 0x%lx - %s\n";
constexpr const char* kDriverName = "merix6";
// Trace level to the driver's debug monitor on Windows; none on Linux.
constexpr DWORD kDebugOptions = kWindows ? (WDC_DBG_LEVEL_TRACE | WDC_DBG_OUT_DBM) : 0;

struct DeviceContext {
    VJX_PCI6_INT_HANDLER handler;
};

void ErrLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ErrLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_lastErr, sizeof g_lastErr, format, args);
    va_end(args);
}

// The trace channel: silent in this program.
void TraceLog(const char*, ...) {}

unsigned long Code(DWORD status) {
    return static_cast<unsigned long>(status);
}

bool DeviceValidate(const char* function, WDC_DEVICE_HANDLE device) {
    if (!device) {
        ErrLog("%s: NULL device %s\n", function, "handle");
        return false;
    }
    if (!WDC_GetDevContext(device)) {
        ErrLog("%s: NULL device %s\n", function, "context");
        return false;
    }
    return true;
}

bool HasInterruptItem(WDC_DEVICE_HANDLE device) {
    const WD_CARD& card = device->cardReg.Card;
    for (DWORD i = 0; i < card.dwItems && i < WD_CARD_ITEMS; ++i)
        if (card.Item[i].item == ITEM_INTERRUPT) return true;
    return false;
}

// The library's own interrupt handler: gathers the counters for the caller's.
void IntHandler(void* context) {
    WDC_DEVICE_HANDLE device = static_cast<WDC_DEVICE_HANDLE>(context);
    DeviceContext* ctx = static_cast<DeviceContext*>(WDC_GetDevContext(device));
    if (!ctx || !ctx->handler) return;
    VJX_PCI6_INT_RESULT result = {device->Int.dwCounter, device->Int.dwLost};
    ctx->handler(device, &result);
}

template <int Width>
VJX_REG_VALUE<Width> ReadRegister(WDC_DEVICE_HANDLE device, DWORD space, DWORD offset) {
    if constexpr (Width == 8) {
        uint8_t value = 0xFF;
        WDC_ReadAddr8(device, space, offset, &value);
        return value;
    } else {
        uint32_t value = 0xFFFFFFFF;
        WDC_ReadAddr32(device, space, offset, &value);
        return value;
    }
}

template <int Width>
DWORD WriteRegister(WDC_DEVICE_HANDLE device, DWORD space, DWORD offset, VJX_REG_VALUE<Width> value) {
    if constexpr (Width == 8)
        return WDC_WriteAddr8(device, space, offset, static_cast<uint8_t>(value & 0xFF));
    else
        return WDC_WriteAddr32(device, space, offset, value);
}

}  // namespace

DWORD VJX_PCI6_LibInit() {
    if constexpr (kWindows) {
        if (WD_SetDriverName(kDriverName) != WD_STATUS_SUCCESS) {
            ErrLog("Failed to set the driver name for WDC library.\n");
            return WDC_STATUS_DRIVER_NAME_FAILED;
        }
    }
    DWORD status = WDC_SetDebugOptions(kDebugOptions);
    if (status != WD_STATUS_SUCCESS) {
        ErrLog(kDebugOptionsFailed, Code(status), Stat2Str(status));
        return status;
    }
    status = WDC_DriverOpen(WDC_DRV_OPEN_DEFAULT);
    if (status != WD_STATUS_SUCCESS) {
        ErrLog(kDriverOpenFailed, Code(status), Stat2Str(status));
        return status;
    }
    return WD_STATUS_SUCCESS;
}

DWORD VJX_PCI6_LibUninit() {
    DWORD status = WDC_DriverClose();
    if (status != WD_STATUS_SUCCESS) ErrLog(kDriverCloseFailed, Code(status), Stat2Str(status));
    return status;
}

WDC_DEVICE_HANDLE VJX_PCI6_DeviceOpen(const WD_PCI_CARD_INFO* cardInfo) {
    if (!cardInfo) {
        ErrLog("VJX_PCI6_DeviceOpen: Error - NULL device information struct pointer\n");
        return nullptr;
    }
    DeviceContext* ctx = new (std::nothrow) DeviceContext();
    if (!ctx) {
        ErrLog("Failed allocating memory for VJX_PCI6 device context\n");
        return nullptr;
    }
    WDC_DEVICE_HANDLE device = nullptr;
    DWORD status = WDC_PciDeviceOpen(&device, cardInfo, ctx);
    if (status != WD_STATUS_SUCCESS) {
        ErrLog(kDeviceOpenFailed, Code(status), Stat2Str(status));
        if (device)
            VJX_PCI6_DeviceClose(device);
        else
            delete ctx;
        return nullptr;
    }
    // A function without any active space still opens: its configuration
    // space is all the bridge of a slow-mode card offers.
    bool active = false;
    for (DWORD i = 0; i < device->dwNumAddrSpaces; ++i)
        if (WDC_AddrSpaceIsActive(device, i)) active = true;
    if (!active) TraceLog("Device does not have any active memory or I/O address spaces\n");
    TraceLog("VJX_PCI6_DeviceOpen: Opened a VJX_PCI6 device (handle 0x%p)\n", static_cast<void*>(device));
    return device;
}

bool VJX_PCI6_DeviceClose(WDC_DEVICE_HANDLE device) {
    if (!device) {
        ErrLog("VJX_PCI6_DeviceClose: Error - NULL device handle\n");
        return false;
    }
    if (VJX_PCI6_IntIsEnabled(device)) {
        DWORD status = VJX_PCI6_IntDisable(device);
        if (status != WD_STATUS_SUCCESS)
            ErrLog("Failed disabling interrupts. Error 0x%lx - %s\n", Code(status), Stat2Str(status));
    }
    DeviceContext* ctx = static_cast<DeviceContext*>(WDC_GetDevContext(device));
    DWORD status = WDC_PciDeviceClose(device);
    if (status != WD_STATUS_SUCCESS)
        ErrLog(kDeviceCloseFailed, static_cast<void*>(device), Code(status), Stat2Str(status));
    delete ctx;
    return status == WD_STATUS_SUCCESS;
}

DWORD VJX_PCI6_IntEnable(WDC_DEVICE_HANDLE device, VJX_PCI6_INT_HANDLER handler) {
    if (!DeviceValidate("VJX_PCI6_IntEnable", device)) return WDC_STATUS_INVALID_PARAMETER;
    if (!HasInterruptItem(device)) return WDC_STATUS_FAILED;
    if (WDC_IntIsEnabled(device)) {
        ErrLog("Interrupts are already enabled ...\n");
        return WDC_STATUS_INT_ALREADY_ENABLED;
    }
    static_cast<DeviceContext*>(WDC_GetDevContext(device))->handler = handler;
    DWORD status = WDC_IntEnable(device, IntHandler, device);
    if (status != WD_STATUS_SUCCESS) {
        ErrLog("Failed enabling interrupts. Error 0x%lx - %s\n", Code(status), Stat2Str(status));
        return status;
    }
    TraceLog("VJX_PCI6_IntEnable: Interrupts enabled\n");
    return WD_STATUS_SUCCESS;
}

DWORD VJX_PCI6_IntDisable(WDC_DEVICE_HANDLE device) {
    if (!DeviceValidate("VJX_PCI6_IntDisable", device)) return WDC_STATUS_INVALID_PARAMETER;
    if (!WDC_IntIsEnabled(device)) {
        ErrLog("Interrupts are already disabled ...\n");
        return WDC_STATUS_ALREADY_DONE;
    }
    DWORD status = WDC_IntDisable(device);
    if (status != WD_STATUS_SUCCESS)
        ErrLog("Failed disabling interrupts. Error 0x%lx - %s\n", Code(status), Stat2Str(status));
    return status;
}

bool VJX_PCI6_IntIsEnabled(WDC_DEVICE_HANDLE device) {
    if (!DeviceValidate("VJX_PCI6_IntIsEnabled", device)) return false;
    return WDC_IntIsEnabled(device);
}

DWORD VJX_PCI6_GetNumAddrSpaces(WDC_DEVICE_HANDLE device) {
    if (!DeviceValidate("VJX_PCI6_GetNumAddrSpaces", device)) return 0;
    return device->dwNumAddrSpaces;
}

bool VJX_PCI6_GetAddrSpaceInfo(WDC_DEVICE_HANDLE device, VJX_PCI6_ADDR_SPACE_INFO* info) {
    if (!DeviceValidate("VJX_PCI6_GetAddrSpaceInfo", device) || !info) return false;
    const DWORD space = info->dwAddrSpace;
    if (space >= device->dwNumAddrSpaces) {
        ErrLog("VJX_PCI6_GetAddrSpaceInfo: Error - Address space %ld is out of range (0 - %ld)\n",
               static_cast<long>(space), static_cast<long>(device->dwNumAddrSpaces) - 1);
        return false;
    }
    const WDC_ADDR_SPACE& desc = device->pAddrDesc[space];
    std::snprintf(info->sType, 7, "%s", desc.fIsMemory ? "Memory" : "I/O");
    std::snprintf(info->sName, 127, "BAR %d", static_cast<int>(desc.dwAddrSpace));
    if (WDC_AddrSpaceIsActive(device, space)) {
        UINT64 start = 0;
        if (desc.fIsMemory && desc.dwItemIndex < WD_CARD_ITEMS)
            start = device->cardReg.Card.Item[desc.dwItemIndex].I.Mem.pPhysicalAddr;
        std::snprintf(info->sDesc, 127, "0x%0*llX - 0x%0*llX (0x%llx bytes)", 8,
                      static_cast<unsigned long long>(start), 8,
                      static_cast<unsigned long long>(start + desc.qwBytes - 1),
                      static_cast<unsigned long long>(desc.qwBytes));
    } else {
        std::snprintf(info->sDesc, 127, "Inactive address space");
    }
    return true;
}

const char* VJX_PCI6_GetLastErr() {
    return g_lastErr;
}

#define VJX_REGISTER(NAME, SPACE, OFFSET, WIDTH)                                       \
    VJX_REG_VALUE<WIDTH> VJX_PCI6_Read##NAME(WDC_DEVICE_HANDLE device) {               \
        return ReadRegister<WIDTH>(device, SPACE, OFFSET);                             \
    }                                                                                  \
    DWORD VJX_PCI6_Write##NAME(WDC_DEVICE_HANDLE device, VJX_REG_VALUE<WIDTH> value) { \
        return WriteRegister<WIDTH>(device, SPACE, OFFSET, value);                     \
    }
#include "registers.def"
#undef VJX_REGISTER
