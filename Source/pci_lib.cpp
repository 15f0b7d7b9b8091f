// PCI library over the device library and the driver's device level.
#include "pci_lib.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

char VJX_PCI_ErrorString[VJX_PCI_ERROR_SIZE];

namespace {

constexpr DWORD kRequiredVersion = vjx::platform::kRequiredDriverVersion;

unsigned long Code(DWORD status) {
    return static_cast<unsigned long>(status);
}

}  // namespace

void VJX_PCI_ERR(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(VJX_PCI_ErrorString, sizeof VJX_PCI_ErrorString, format, args);
    va_end(args);
}

DWORD VJX_PCI_LibInit() {
    return VJX_PCI6_LibInit();
}

void VJX_PCI_LibUninit() {
    VJX_PCI6_LibUninit();
}

int VJX_PCI_DriverVersionOk(DWORD version) {
    if (version >= kRequiredVersion) return 1;
    if (version != 0)
        VJX_PCI_ERR("Incorrect device driver version (%d.%02d < %d.%02d)\n", static_cast<int>(version / 100),
                    static_cast<int>(version % 100), static_cast<int>(kRequiredVersion / 100),
                    static_cast<int>(kRequiredVersion % 100));
    else
        VJX_PCI_ERR("%s\n", VJX_PCI6_GetLastErr());
    return 0;
}

DWORD VJX_PCI_CountCards(DWORD vendorId, DWORD deviceId) {
    VJX_PCI_ErrorString[0] = '\0';
    WD_HANDLE driver = WDC_GetWDHandle();
    if (!WdHandleValid(driver)) {
        VJX_PCI_ERR("Failed opening device driver\n");
        return 0;
    }
    WD_VERSION version;
    std::memset(&version, 0, sizeof version);
    WD_Version(driver, &version);
    if (!VJX_PCI_DriverVersionOk(version.dwVer)) return 0;

    WD_PCI_SCAN_CARDS scan;
    std::memset(&scan, 0, sizeof scan);
    scan.searchId.dwVendorId = vendorId;
    scan.searchId.dwDeviceId = deviceId;
    DWORD status = WD_PciScanCards(driver, &scan);
    if (status != WD_STATUS_SUCCESS) {
        VJX_PCI_ERR("Failed counting cards. %s\n", Stat2Str(status));
        return 0;
    }
    return scan.dwCards;
}

int DeviceFindEx(DWORD vendorId, DWORD deviceId, DWORD index, WD_PCI_SLOT* slot) {
    WDC_PCI_SCAN_RESULT scan;
    std::memset(&scan, 0, sizeof scan);
    DWORD status = WDC_PciScanDevices(vendorId, deviceId, &scan);
    if (status != WD_STATUS_SUCCESS) {
        VJX_PCI_ERR("DeviceFind: Failed scanning the PCI bus.\nError: 0x%lx - %s\n", Code(status),
                    Stat2Str(status));
        return 0;
    }
    if (scan.dwNumDevices == 0) {
        VJX_PCI_ERR("No matching device was found for search criteria (Vendor ID 0x%lX, Device ID 0x%lX)\n",
                    static_cast<unsigned long>(vendorId), static_cast<unsigned long>(deviceId));
        return 0;
    }
    if (index >= scan.dwNumDevices) {
        VJX_PCI_ERR("Can't open device %d of %d devices\n", static_cast<int>(index),
                    static_cast<int>(scan.dwNumDevices));
        return 0;
    }
    if (slot) *slot = scan.deviceSlot[index];
    return 1;
}

WDC_DEVICE_HANDLE DeviceOpen(const WD_PCI_SLOT* slot) {
    if (!slot) return nullptr;
    WD_PCI_CARD_INFO info;
    std::memset(&info, 0, sizeof info);
    info.pciSlot = *slot;
    DWORD status = WDC_PciGetDeviceInfo(&info);
    if (status != WD_STATUS_SUCCESS) {
        VJX_PCI_ERR("DeviceOpen: Failed retrieving the device's resources information.\nError 0x%lx - %s\n",
                    Code(status), Stat2Str(status));
        return nullptr;
    }
    WDC_DEVICE_HANDLE device = VJX_PCI6_DeviceOpen(&info);
    if (!device) {
        VJX_PCI_ERR("DeviceOpen: Failed opening a handle to the device: %s", VJX_PCI6_GetLastErr());
        return nullptr;
    }
    return device;
}

void DeviceClose(WDC_DEVICE_HANDLE device) {
    if (device && !VJX_PCI6_DeviceClose(device))
        VJX_PCI_ERR("DeviceClose: Failed closing PCI device: %s", VJX_PCI6_GetLastErr());
}

int VJX_PCI_Open(VJX_PCI_STRUCT** card, DWORD vendorId, DWORD deviceId, DWORD index) {
    if (!card) return 0;
    *card = nullptr;
    VJX_PCI_STRUCT* record = new (std::nothrow) VJX_PCI_STRUCT();
    if (!record) return 0;
    if (!DeviceFindEx(vendorId, deviceId, index, &record->slot)) {
        delete record;
        return 0;
    }
    record->hDevice = DeviceOpen(&record->slot);
    if (!record->hDevice) {
        delete record;
        return 0;
    }
    *card = record;
    return 1;
}

void VJX_PCI_Close(VJX_PCI_STRUCT* card) {
    if (!card) return;
    DeviceClose(card->hDevice);
    delete card;
}

void VJX_PCI_GetPciSlot(const VJX_PCI_STRUCT* card, WD_PCI_SLOT* slot) {
    if (!slot) return;
    *slot = card ? card->slot : WD_PCI_SLOT{};
}

int PCI_Get_WD_handle(WD_HANDLE* handle) {
    WD_HANDLE driver = WDC_GetWDHandle();
    if (!WdHandleValid(driver)) {
        VJX_PCI_ERR("%s", vjx::platform::kPciLibDeviceOpenFailed);
        return 0;
    }
    if (handle) *handle = driver;
    return 1;
}

namespace {

// One configuration dump of 1 to 4 bytes; `bytes` holds them low byte first.
DWORD ConfigDump(WD_HANDLE handle, const WD_PCI_SLOT& slot, DWORD offset, DWORD count, uint8_t* bytes,
                 bool read) {
    WD_PCI_CONFIG_DUMP dump;
    std::memset(&dump, 0, sizeof dump);
    dump.pciSlot = slot;
    dump.pBuffer = bytes;
    dump.dwOffset = offset;
    dump.dwBytes = count;
    dump.fIsRead = read ? 1 : 0;
    return WD_PciConfigDump(handle, &dump);
}

}  // namespace

uint32_t PCI_ReadBytes(WD_HANDLE handle, WD_PCI_SLOT slot, DWORD offset, DWORD count) {
    if (count < 1 || count > 4) return 0;
    uint8_t bytes[4] = {};
    if (ConfigDump(handle, slot, offset, count, bytes, true) != WD_STATUS_SUCCESS) return 0;
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

void PCI_WriteBytes(WD_HANDLE handle, WD_PCI_SLOT slot, DWORD offset, DWORD count, uint32_t value) {
    if (count < 1 || count > 4) return;
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    ConfigDump(handle, slot, offset, count, bytes, false);
}

uint8_t VJX_PCI_ReadByte(VJX_PCI_STRUCT* card, DWORD addrSpace, DWORD offset) {
    uint8_t value = 0xFF;
    WDC_ReadAddr8(card ? card->hDevice : nullptr, addrSpace, offset, &value);
    return value;
}

#define VJX_REGISTER(NAME, SPACE, OFFSET, WIDTH)                                                    \
    VJX_REG_VALUE<WIDTH> VJX_PCI_Read##NAME(VJX_PCI_STRUCT* card) {                                 \
        return VJX_PCI6_Read##NAME(card ? card->hDevice : nullptr);                                 \
    }                                                                                               \
    void VJX_PCI_Write##NAME(VJX_PCI_STRUCT* card, uint32_t value) {                                \
        VJX_PCI6_Write##NAME(card ? card->hDevice : nullptr,                                        \
                             static_cast<VJX_REG_VALUE<WIDTH>>(WIDTH == 8 ? value & 0xFF : value)); \
    }
#include "registers.def"
#undef VJX_REGISTER
