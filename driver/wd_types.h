// Records of the driver-call interface (WinDriver terms). On Linux the
// adapter over libmerix32 fills and reads them itself.
#pragma once

#include <cstdint>

using DWORD = uint32_t;
using UINT64 = uint64_t;
using WD_HANDLE = void*;

#define WD_PCI_CARDS 100
#define WD_CARD_ITEMS 20

struct WD_PCI_SLOT {
    DWORD dwBus;
    DWORD dwSlot;      // Linux: the function's access number (0x1001..)
    DWORD dwFunction;  // Linux: the PCI device ID
};

struct WD_PCI_ID {
    DWORD dwVendorId;
    DWORD dwDeviceId;
};

struct WD_PCI_SCAN_CARDS {
    WD_PCI_ID searchId;
    DWORD dwCards;
    WD_PCI_ID cardId[WD_PCI_CARDS];
    WD_PCI_SLOT cardSlot[WD_PCI_CARDS];
    DWORD dwOptions;
};

struct WDC_PCI_SCAN_RESULT {
    DWORD dwNumDevices;
    WD_PCI_ID deviceId[WD_PCI_CARDS];
    WD_PCI_SLOT deviceSlot[WD_PCI_CARDS];
};

struct WD_PCI_CONFIG_DUMP {
    WD_PCI_SLOT pciSlot;
    DWORD padding;
    void* pBuffer;
    DWORD dwOffset;
    DWORD dwBytes;
    DWORD fIsRead;  // 1 read, 0 write
    DWORD dwResult;
};

struct WD_VERSION {
    DWORD dwVer;  // major * 100 + minor
    char cVer[128];
};

enum ITEM_TYPE : DWORD { ITEM_NONE = 0, ITEM_INTERRUPT = 1, ITEM_MEMORY = 2, ITEM_IO = 3 };

struct WD_ITEM {
    DWORD item;  // ITEM_TYPE
    DWORD fNotSharable;
    union {
        struct {
            UINT64 pPhysicalAddr;
            UINT64 qwBytes;
            UINT64 pTransAddr;
            UINT64 pUserDirectAddr;
            DWORD dwBar;
        } Mem;
        struct {
            UINT64 pAddr;
            DWORD dwBytes;
            DWORD dwBar;
        } IO;
        struct {
            DWORD dwInterrupt;
            DWORD dwOptions;
        } Int;
    } I;
};

struct WD_CARD {
    DWORD dwItems;
    WD_ITEM Item[WD_CARD_ITEMS];
};

struct WD_PCI_CARD_INFO {
    WD_PCI_SLOT pciSlot;
    DWORD padding;
    WD_CARD Card;
};

struct WD_CARD_REGISTER {
    WD_CARD Card;
    DWORD fCheckLockOnly;
    DWORD hCard;  // 0 = not registered
};

struct WDC_ADDR_SPACE {
    DWORD dwAddrSpace;
    DWORD fIsMemory;
    DWORD dwItemIndex;
    DWORD reserved;
    UINT64 qwBytes;  // non-zero means active
    UINT64 kptAddr;
    UINT64 pUserDirectMemAddr;
};

struct WDC_DEVICE;  // device record behind a device handle (driver/wdc_lib.h)
using WDC_DEVICE_HANDLE = WDC_DEVICE*;
