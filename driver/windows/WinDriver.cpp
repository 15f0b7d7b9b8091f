// Low level of the driver-call interface over the WinDriver kernel driver,
// and the device-level calls that depend on it: the driver's device path and
// name, opening and closing it, one device request per low-level call, the
// debug output, register access and the driver's status texts.
//
// Every request goes through the seam of KernelPort.h; memory spaces of a
// registered card are read and written directly at the user-mode address the
// driver mapped them to, I/O spaces through the driver's single transfer.
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "../wdc_lib.h"
#include "KernelPort.h"

namespace {

// ---- Kernel driver's status codes ------------------------------------------
enum : DWORD {
    WD_INVALID_HANDLE = 0xFFFFFFFF,
    WD_STATUS_ERROR = 0x20000000,
    WD_STATUS_INVALID_HANDLE = 0x20000001,
    WD_NOT_IMPLEMENTED = 0x2000000A,
    WD_INTERRUPT_NOT_ENABLED = 0x2000000D,
    WD_FAILED_USER_MAPPING = 0x20000017,
    WD_INVALID_PARAMETER = 0x2000001B,
    WD_OPERATION_ALREADY_DONE = 0x20000011,
};

// ---- Device requests: code and record size ----------------------------------
enum : DWORD {
    kIoctlVersion = 0x95383443,
    kIoctlPciScanCards = 0x9538368F,
    kIoctlPciGetCardInfo = 0x953837A3,
    kIoctlPciConfigDump = 0x9538346B,
    kIoctlCardRegister = 0x9538379B,
    kIoctlCardUnregister = 0x9538379F,
    kIoctlTransfer = 0x95383633,
    kIoctlIntDisable = 0x953836EF,
    kIoctlEventUnregister = 0x953837C3,
    kIoctlDebugAdd = 0x95383593,
};

constexpr const char* kDefaultDevicePath = "\\\\.\\windrvr1230";
constexpr const char* kDevicePrefix = "\\\\.\\";

// The device path in force, and whether a name has been set.
std::string g_devicePath = kDefaultDevicePath;
bool g_nameSet = false;

// ---- Debug output ------------------------------------------------------------
enum : DWORD {
    kDebugLevelError = WDC_DBG_LEVEL_ERR,
    kDebugLevelTrace = WDC_DBG_LEVEL_TRACE,
    kDebugOutMonitor = WDC_DBG_OUT_DBM,
    kDebugOutFile = WDC_DBG_OUT_FILE,
    kDebugNone = WDC_DBG_NONE,
};
enum : DWORD { kDebugMessageError = 1, kDebugMessageTrace = 4, kAllSections = 0xFFFFFFFF };

DWORD g_debugOptions = kDebugNone;

windrv::DeviceHandle Device(WD_HANDLE handle) {
    return static_cast<windrv::DeviceHandle>(handle);
}

// One device request. Without a driver handle or a record nothing is sent.
DWORD Request(WD_HANDLE handle, DWORD code, void* record, DWORD size) {
    if (!WdHandleValid(handle)) return WD_INVALID_HANDLE;
    if (!record) return WD_INVALID_PARAMETER;
    uint32_t status = WD_STATUS_ERROR;
    windrv::Control(Device(handle), code, record, size, &status);
    return status;
}

bool ErrorLevelOn() {
    return (g_debugOptions & (kDebugLevelError | kDebugLevelTrace)) != 0;
}

// Sends one message to the driver's debug monitor.
void DebugMessage(DWORD level, const char* format, va_list args) {
    if ((g_debugOptions & kDebugOutMonitor) == 0) return;
    WD_DEBUG_ADD message;
    std::memset(&message, 0, sizeof message);
    std::vsnprintf(message.pcBuffer, sizeof message.pcBuffer, format, args);
    message.dwLevel = level;
    message.dwSection = kAllSections;
    Request(WDC_GetWDHandle(), kIoctlDebugAdd, &message, sizeof message);
}

}  // namespace

// ---- Low level -----------------------------------------------------------------

DWORD WD_SetDriverName(const char* name) {
    if (!name || !*name) return WD_INVALID_PARAMETER;
    const std::string path = std::string(kDevicePrefix) + name;
    if (g_nameSet && path != g_devicePath) return WD_STATUS_ERROR;
    g_devicePath = path;
    g_nameSet = true;
    return WD_STATUS_SUCCESS;
}

WD_HANDLE WD_Open() {
    windrv::DeviceHandle device = windrv::OpenDevice(g_devicePath.c_str());
    return device ? static_cast<WD_HANDLE>(device) : WdInvalidHandle();
}

void WD_Close(WD_HANDLE handle) {
    if (WdHandleValid(handle)) windrv::CloseDevice(Device(handle));
}

DWORD WD_Version(WD_HANDLE handle, WD_VERSION* version) {
    return Request(handle, kIoctlVersion, version, sizeof *version);
}

DWORD WD_PciScanCards(WD_HANDLE handle, WD_PCI_SCAN_CARDS* scan) {
    return Request(handle, kIoctlPciScanCards, scan, sizeof *scan);
}

DWORD WD_PciConfigDump(WD_HANDLE handle, WD_PCI_CONFIG_DUMP* dump) {
    return Request(handle, kIoctlPciConfigDump, dump, sizeof *dump);
}

DWORD WD_PciGetCardInfo(WD_HANDLE handle, WD_PCI_CARD_INFO* info) {
    return Request(handle, kIoctlPciGetCardInfo, info, sizeof *info);
}

DWORD WD_CardRegister(WD_HANDLE handle, WD_CARD_REGISTER* card) {
    return Request(handle, kIoctlCardRegister, card, sizeof *card);
}

DWORD WD_CardUnregister(WD_HANDLE handle, WD_CARD_REGISTER* card) {
    const DWORD status = Request(handle, kIoctlCardUnregister, card, sizeof *card);
    if (status == WD_STATUS_SUCCESS) card->hCard = 0;  // the card is no longer registered
    return status;
}

DWORD WD_Transfer(WD_HANDLE handle, WD_TRANSFER* transfer) {
    return Request(handle, kIoctlTransfer, transfer, sizeof *transfer);
}

DWORD WD_IntDisable(WD_HANDLE handle, WD_INTERRUPT* interrupt) {
    return Request(handle, kIoctlIntDisable, interrupt, sizeof *interrupt);
}

// ---- Device level: the driver, debug output ------------------------------------

DWORD WDC_DriverOpen(DWORD) {
    if (WdHandleValid(WDC_GetWDHandle())) return WD_OPERATION_ALREADY_DONE;
    WD_HANDLE handle = WD_Open();
    if (!WdHandleValid(handle)) return WD_STATUS_INVALID_HANDLE;
    WdcSetDriverHandle(handle);
    return WD_STATUS_SUCCESS;
}

DWORD WDC_DriverClose() {
    g_debugOptions = kDebugNone;
    WD_HANDLE handle = WDC_GetWDHandle();
    WD_Close(handle);
    WdcSetDriverHandle(WdInvalidHandle());
    return WD_STATUS_SUCCESS;
}

DWORD WDC_SetDebugOptions(DWORD options) {
    if ((options & (kDebugLevelError | kDebugLevelTrace | kDebugNone)) == 0) {
        WdcSetLastErrStr(
            "WDC_SetDebugOptions: Error - You must set either the WDC_DBG_LEVEL_TRACE, WDC_DBG_LEVEL_ERR, "
            "WDC_DBG_DEFAULT or WDC_DBG_NONE debug option.\n");
        return WD_INVALID_PARAMETER;
    }
    g_debugOptions = options;
    return WD_STATUS_SUCCESS;
}

void WDC_Err(const char* format, ...) {
    if (!ErrorLevelOn()) return;
    va_list args;
    va_start(args, format);
    DebugMessage(kDebugMessageError, format, args);
    va_end(args);
}

// ---- Device level: registers ------------------------------------------------------

namespace {

// Where an access of the given width at an offset of an address space
// goes: the space's record, or null when the device has no such space or the
// access does not lie inside it (the status to answer is then in *status).
const WDC_ADDR_SPACE* SpaceFor(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, DWORD width,
                               DWORD* status) {
    *status = WD_INVALID_PARAMETER;
    if (!device || !device->pAddrDesc || addrSpace >= device->dwNumAddrSpaces) return nullptr;
    const WDC_ADDR_SPACE& space = device->pAddrDesc[addrSpace];
    if (space.qwBytes == 0 || static_cast<UINT64>(offset) + width > space.qwBytes) return nullptr;
    if (space.fIsMemory && space.pUserDirectMemAddr == 0) {
        *status = WD_FAILED_USER_MAPPING;
        return nullptr;
    }
    *status = WD_STATUS_SUCCESS;
    return &space;
}

// One single transfer at a port of an I/O space: 1 or 4 bytes, the data
// through a pointer.
DWORD PortTransfer(const WDC_ADDR_SPACE& space, DWORD offset, WD_TRANSFER_CMD command, DWORD bytes,
                   void* data) {
    WD_TRANSFER transfer;
    std::memset(&transfer, 0, sizeof transfer);
    transfer.pPort = space.kptAddr + offset;
    transfer.cmdTrans = command;
    transfer.dwBytes = bytes;
    transfer.fAutoinc = 1;
    transfer.pBuffer = data;
    return WD_Transfer(WDC_GetWDHandle(), &transfer);
}

}  // namespace

// A read that does not reach the card answers all ones, as a PCI read that
// no target claims does.
DWORD WDC_ReadAddr8(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint8_t* value) {
    if (!value) return WD_INVALID_PARAMETER;
    *value = 0xFF;
    DWORD status;
    const WDC_ADDR_SPACE* space = SpaceFor(device, addrSpace, offset, 1, &status);
    if (!space) return status;
    if (space->fIsMemory) {
        *value = windrv::Load8(space->pUserDirectMemAddr + offset);
        return WD_STATUS_SUCCESS;
    }
    uint8_t data = 0xFF;
    status = PortTransfer(*space, offset, RP_BYTE, 1, &data);
    if (status == WD_STATUS_SUCCESS) *value = data;
    return status;
}

DWORD WDC_ReadAddr32(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint32_t* value) {
    if (!value) return WD_INVALID_PARAMETER;
    *value = 0xFFFFFFFF;
    DWORD status;
    const WDC_ADDR_SPACE* space = SpaceFor(device, addrSpace, offset, 4, &status);
    if (!space) return status;
    if (space->fIsMemory) {
        *value = windrv::Load32(space->pUserDirectMemAddr + offset);
        return WD_STATUS_SUCCESS;
    }
    uint32_t data = 0xFFFFFFFF;
    status = PortTransfer(*space, offset, RP_DWORD, 4, &data);
    if (status == WD_STATUS_SUCCESS) *value = data;
    return status;
}

DWORD WDC_WriteAddr8(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint8_t value) {
    DWORD status;
    const WDC_ADDR_SPACE* space = SpaceFor(device, addrSpace, offset, 1, &status);
    if (!space) return status;
    if (space->fIsMemory) {
        windrv::Store8(space->pUserDirectMemAddr + offset, value);
        return WD_STATUS_SUCCESS;
    }
    return PortTransfer(*space, offset, WP_BYTE, 1, &value);
}

DWORD WDC_WriteAddr32(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint32_t value) {
    DWORD status;
    const WDC_ADDR_SPACE* space = SpaceFor(device, addrSpace, offset, 4, &status);
    if (!space) return status;
    if (space->fIsMemory) {
        windrv::Store32(space->pUserDirectMemAddr + offset, value);
        return WD_STATUS_SUCCESS;
    }
    return PortTransfer(*space, offset, WP_DWORD, 4, &value);
}

// The program enables no interrupts of its cards: enabling one takes the
// driver's interrupt-enable and event requests, which it does not make.
DWORD WDC_IntEnable(WDC_DEVICE_HANDLE device, WDC_INT_HANDLER, void*) {
    return device ? WD_NOT_IMPLEMENTED : WD_INVALID_PARAMETER;
}

DWORD WDC_IntDisable(WDC_DEVICE_HANDLE device) {
    if (!device) return WD_INVALID_PARAMETER;
    if (!device->Int.fEnabled) return WD_INTERRUPT_NOT_ENABLED;
    WD_INTERRUPT interrupt;
    std::memset(&interrupt, 0, sizeof interrupt);
    interrupt.hInterrupt = device->Int.hInterrupt;
    interrupt.dwOptions = device->Int.dwOptions;
    interrupt.Cmd = device->Int.pTransCmds;
    interrupt.dwCmds = device->Int.dwNumCmds;
    const DWORD status = WD_IntDisable(WDC_GetWDHandle(), &interrupt);
    if (status == WD_STATUS_SUCCESS) device->Int.fEnabled = 0;
    return status;
}

// ---- Status texts ---------------------------------------------------------------------

namespace {

struct StatusText {
    DWORD status;
    const char* text;
};

constexpr StatusText kStatusTexts[] = {
    {0x00000000, "Success"},
    {0xFFFFFFFF, "Invalid WinDriver handle"},
    {0x20000000, "Error"},
    {0x20000001, "Invalid handle"},
    {0x20000002, "Invalid pipe number"},
    {0x20000003, "Conflict between read and write operations"},
    {0x20000004, "Packet size is zero"},
    {0x20000005, "Insufficient resources"},
    {0x20000006, "Unknown pipe type"},
    {0x20000007, "Internal system error"},
    {0x20000008, "Data mismatch"},
    {0x2000000A, "Function not implemented"},
    {0x2000000B, "Kernel PlugIn failure"},
    {0x2000000C, "Failed enabling interrupt"},
    {0x2000000D, "Interrupt not enabled"},
    {0x2000000E, "Resource overlap"},
    {0x2000000F, "Device not found"},
    {0x20000010, "Wrong unique ID"},
    {0x20000011, "Operation already done"},
    {0x20000012, "Usb descriptor error"},
    {0x20000013, "Set configuration operation failed"},
    {0x20000014, "Cannot obtain PDO"},
    {0x20000015, "Timeout expired"},
    {0x20000016, "IRP operation canceled"},
    {0x20000017, "Failed to map in user space"},
    {0x20000018, "Failed to map in kernel space"},
    {0x20000019, "No resources on the device"},
    {0x2000001A, "No events"},
    {0x2000001B, "Invalid parameter"},
    {0x2000001C, "Incorrect WinDriver version installed"},
    {0x2000001D, "Try again"},
    {0x2000001E, "Failed open WinDriver"},
    {0x2000001F, "Received an invalid IOCTL"},
    {0x20000020, "Operation failed"},
    {0x20000021, "Received an invalid 32bit IOCTL"},
    {0x20000022, "No room to add handle"},
    {0x20000023, "Driver not installed"},
};

}  // namespace

const char* Stat2Str(DWORD status) {
    for (const StatusText& entry : kStatusTexts)
        if (entry.status == status) return entry.text;
    return "Unrecognized error code";
}
