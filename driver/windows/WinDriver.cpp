// Low level of the driver-call interface over the WinDriver kernel driver,
// and the device-level calls that depend on it: the driver's device path and
// name, opening and closing it, one device request per low-level call, the
// debug output, register access and the driver's status texts.
//
// Requests whose records this file already carries in the kernel driver's
// layout (version, bus scan, configuration dump, debug message) are made;
// those that carry resource items (card information, card registration,
// single transfers, interrupts) answer "Function not implemented" until
// their records are laid out as the driver's.
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

// The debug-message record of the driver.
struct WD_DEBUG_ADD {
    char pcBuffer[256];
    DWORD dwLevel;    // 1 error, 4 trace
    DWORD dwSection;  // all ones: every section
};

static_assert(sizeof(WD_VERSION) == 132, "version record as the driver takes it");
static_assert(sizeof(WD_PCI_SCAN_CARDS) == 2016, "bus-scan record as the driver takes it");
static_assert(sizeof(WD_DEBUG_ADD) == 264, "debug-message record as the driver takes it");
static_assert(sizeof(void*) != 8 || sizeof(WD_PCI_CONFIG_DUMP) == 40,
              "configuration dump as the driver takes it");
static_assert(sizeof(void*) != 8 || offsetof(WD_PCI_CONFIG_DUMP, pBuffer) == 16,
              "dump buffer after the slot");

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

// One device request. Without a driver handle nothing is sent.
DWORD Request(WD_HANDLE handle, DWORD code, void* record, DWORD size) {
    if (!WdHandleValid(handle)) return WD_INVALID_HANDLE;
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

DWORD WD_PciGetCardInfo(WD_HANDLE handle, WD_PCI_CARD_INFO*) {
    return WdHandleValid(handle) ? WD_NOT_IMPLEMENTED : WD_INVALID_HANDLE;
}

DWORD WD_CardRegister(WD_HANDLE handle, WD_CARD_REGISTER*) {
    return WdHandleValid(handle) ? WD_NOT_IMPLEMENTED : WD_INVALID_HANDLE;
}

DWORD WD_CardUnregister(WD_HANDLE handle, WD_CARD_REGISTER*) {
    return WdHandleValid(handle) ? WD_NOT_IMPLEMENTED : WD_INVALID_HANDLE;
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

// The user-mode address of a memory space, or 0 for an I/O space or one the
// device does not have.
uint8_t* MappedAddress(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, DWORD width) {
    if (!device || addrSpace >= device->dwNumAddrSpaces) return nullptr;
    const WDC_ADDR_SPACE& space = device->pAddrDesc[addrSpace];
    if (!space.fIsMemory || space.pUserDirectMemAddr == 0) return nullptr;
    if (static_cast<UINT64>(offset) + width > space.qwBytes) return nullptr;
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(space.pUserDirectMemAddr)) + offset;
}

}  // namespace

// A read that does not reach the card answers all ones, as a PCI read that
// no target claims does.
DWORD WDC_ReadAddr8(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint8_t* value) {
    if (!value) return WD_INVALID_PARAMETER;
    *value = 0xFF;
    volatile uint8_t* at = MappedAddress(device, addrSpace, offset, 1);
    if (!at) return device ? WD_NOT_IMPLEMENTED : WD_INVALID_PARAMETER;
    *value = *at;
    return WD_STATUS_SUCCESS;
}

DWORD WDC_ReadAddr32(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint32_t* value) {
    if (!value) return WD_INVALID_PARAMETER;
    *value = 0xFFFFFFFF;
    volatile uint32_t* at = reinterpret_cast<volatile uint32_t*>(MappedAddress(device, addrSpace, offset, 4));
    if (!at) return device ? WD_NOT_IMPLEMENTED : WD_INVALID_PARAMETER;
    *value = *at;
    return WD_STATUS_SUCCESS;
}

DWORD WDC_WriteAddr8(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint8_t value) {
    volatile uint8_t* at = MappedAddress(device, addrSpace, offset, 1);
    if (!at) return device ? WD_NOT_IMPLEMENTED : WD_INVALID_PARAMETER;
    *at = value;
    return WD_STATUS_SUCCESS;
}

DWORD WDC_WriteAddr32(WDC_DEVICE_HANDLE device, DWORD addrSpace, DWORD offset, uint32_t value) {
    volatile uint32_t* at = reinterpret_cast<volatile uint32_t*>(MappedAddress(device, addrSpace, offset, 4));
    if (!at) return device ? WD_NOT_IMPLEMENTED : WD_INVALID_PARAMETER;
    *at = value;
    return WD_STATUS_SUCCESS;
}

// The program enables no interrupts.
DWORD WDC_IntEnable(WDC_DEVICE_HANDLE, WDC_INT_HANDLER, void*) {
    return WD_NOT_IMPLEMENTED;
}
DWORD WDC_IntDisable(WDC_DEVICE_HANDLE) {
    return WD_NOT_IMPLEMENTED;
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
