// Records of the driver-call interface (WinDriver terms), laid out byte for
// byte as the Windows kernel driver takes them in a 64-bit process; every
// size and offset is checked below. On Linux the adapter over libmerix32
// fills and reads them itself in the same layout.
#pragma once

#include <cstddef>
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
    void* pBuffer;  // in the caller's process
    DWORD dwOffset;
    DWORD dwBytes;
    DWORD fIsRead;   // 1 read, 0 write
    DWORD dwResult;  // 0 done, 1 no function at the slot, 2 past the end of configuration space
};

struct WD_VERSION {
    DWORD dwVer;  // major * 100 + minor
    char cVer[128];
};

enum ITEM_TYPE : DWORD { ITEM_NONE = 0, ITEM_INTERRUPT = 1, ITEM_MEMORY = 2, ITEM_IO = 3 };

// One resource of a card. The kernel driver fills the items of a card from
// its BARs and interrupt line; registration maps each memory item into the
// process and writes its user-mode address.
struct WD_ITEM {
    DWORD item;  // ITEM_TYPE
    DWORD fNotSharable;
    union {
        struct {
            UINT64 pPhysicalAddr;
            UINT64 qwBytes;
            UINT64 pTransAddr;       // the driver's address of the space (the physical one)
            UINT64 pUserDirectAddr;  // 0 until the card is registered
            DWORD dwBar;
            DWORD dwOptions;
            UINT64 reserved;
        } Mem;
        struct {
            UINT64 pAddr;  // first port
            DWORD dwBytes;
            DWORD dwBar;
            UINT64 reserved[4];
        } IO;
        struct {
            DWORD dwInterrupt;
            DWORD dwOptions;
            DWORD hInterrupt;  // given by registration
            DWORD reserved[9];
        } Int;
    } I;
};

struct WD_CARD {
    DWORD dwItems;
    DWORD padding;
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
    DWORD dwOptions;
    char cName[32];
    char cDescription[100];
};

// Transfer commands of a single transfer.
enum WD_TRANSFER_CMD : DWORD { RP_BYTE = 20, RP_DWORD = 22, WP_BYTE = 23, WP_DWORD = 25 };

// One read or write of an I/O port through the kernel driver.
struct WD_TRANSFER {
    UINT64 pPort;
    DWORD cmdTrans;  // WD_TRANSFER_CMD
    DWORD dwBytes;
    DWORD fAutoinc;
    DWORD dwOptions;
    void* pBuffer;  // the data, in the caller's process
};

struct WD_KERNEL_PLUGIN_CALL {
    DWORD hKernelPlugIn;
    DWORD dwMessage;
    void* pData;
};

struct WD_INTERRUPT {
    DWORD hInterrupt;
    DWORD dwOptions;
    WD_TRANSFER* Cmd;  // commands run at each interrupt
    DWORD dwCmds;
    DWORD padding;
    WD_KERNEL_PLUGIN_CALL kpCall;
    DWORD fEnableOk;
    DWORD dwCounter;
    DWORD dwLost;
    DWORD fStopped;
    DWORD dwLastMessage;
    DWORD dwEnabledIntType;
    UINT64 reserved;
};

// A message for the kernel driver's debug monitor.
struct WD_DEBUG_ADD {
    char pcBuffer[256];
    DWORD dwLevel;    // 1 error, 4 trace
    DWORD dwSection;  // all ones: every section
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

// ---- The kernel driver's layout ----------------------------------------------
static_assert(sizeof(void*) == 8, "the kernel driver's records are those of a 64-bit process");

static_assert(sizeof(WD_PCI_SLOT) == 12 && offsetof(WD_PCI_SLOT, dwBus) == 0 &&
                  offsetof(WD_PCI_SLOT, dwSlot) == 4 && offsetof(WD_PCI_SLOT, dwFunction) == 8,
              "PCI slot");
static_assert(sizeof(WD_PCI_ID) == 8 && offsetof(WD_PCI_ID, dwVendorId) == 0 &&
                  offsetof(WD_PCI_ID, dwDeviceId) == 4,
              "PCI ID");

static_assert(sizeof(WD_VERSION) == 132 && offsetof(WD_VERSION, dwVer) == 0 &&
                  offsetof(WD_VERSION, cVer) == 4,
              "version");

static_assert(sizeof(WD_PCI_SCAN_CARDS) == 2016 && offsetof(WD_PCI_SCAN_CARDS, searchId) == 0 &&
                  offsetof(WD_PCI_SCAN_CARDS, dwCards) == 8 && offsetof(WD_PCI_SCAN_CARDS, cardId) == 12 &&
                  offsetof(WD_PCI_SCAN_CARDS, cardSlot) == 812 &&
                  offsetof(WD_PCI_SCAN_CARDS, dwOptions) == 2012,
              "bus scan");
static_assert(sizeof(WDC_PCI_SCAN_RESULT) == 2004 && offsetof(WDC_PCI_SCAN_RESULT, deviceId) == 4 &&
                  offsetof(WDC_PCI_SCAN_RESULT, deviceSlot) == 804,
              "scan result of the device level");

static_assert(sizeof(WD_PCI_CONFIG_DUMP) == 40 && offsetof(WD_PCI_CONFIG_DUMP, pciSlot) == 0 &&
                  offsetof(WD_PCI_CONFIG_DUMP, padding) == 12 &&
                  offsetof(WD_PCI_CONFIG_DUMP, pBuffer) == 16 &&
                  offsetof(WD_PCI_CONFIG_DUMP, dwOffset) == 24 &&
                  offsetof(WD_PCI_CONFIG_DUMP, dwBytes) == 28 &&
                  offsetof(WD_PCI_CONFIG_DUMP, fIsRead) == 32 && offsetof(WD_PCI_CONFIG_DUMP, dwResult) == 36,
              "configuration dump");

static_assert(sizeof(WD_ITEM) == 56 && offsetof(WD_ITEM, item) == 0 && offsetof(WD_ITEM, fNotSharable) == 4 &&
                  offsetof(WD_ITEM, I) == 8 && sizeof(WD_ITEM::I) == 48,
              "resource item");
static_assert(offsetof(WD_ITEM, I.Mem.pPhysicalAddr) == 8 && offsetof(WD_ITEM, I.Mem.qwBytes) == 16 &&
                  offsetof(WD_ITEM, I.Mem.pTransAddr) == 24 &&
                  offsetof(WD_ITEM, I.Mem.pUserDirectAddr) == 32 && offsetof(WD_ITEM, I.Mem.dwBar) == 40 &&
                  offsetof(WD_ITEM, I.Mem.dwOptions) == 44 && offsetof(WD_ITEM, I.Mem.reserved) == 48,
              "memory item");
static_assert(offsetof(WD_ITEM, I.IO.pAddr) == 8 && offsetof(WD_ITEM, I.IO.dwBytes) == 16 &&
                  offsetof(WD_ITEM, I.IO.dwBar) == 20,
              "I/O item");
static_assert(offsetof(WD_ITEM, I.Int.dwInterrupt) == 8 && offsetof(WD_ITEM, I.Int.dwOptions) == 12 &&
                  offsetof(WD_ITEM, I.Int.hInterrupt) == 16,
              "interrupt item");

static_assert(sizeof(WD_CARD) == 1128 && offsetof(WD_CARD, dwItems) == 0 && offsetof(WD_CARD, Item) == 8,
              "card resources");
static_assert(sizeof(WD_PCI_CARD_INFO) == 1144 && offsetof(WD_PCI_CARD_INFO, pciSlot) == 0 &&
                  offsetof(WD_PCI_CARD_INFO, padding) == 12 && offsetof(WD_PCI_CARD_INFO, Card) == 16,
              "card information");
static_assert(sizeof(WD_CARD_REGISTER) == 1272 && offsetof(WD_CARD_REGISTER, Card) == 0 &&
                  offsetof(WD_CARD_REGISTER, fCheckLockOnly) == 1128 &&
                  offsetof(WD_CARD_REGISTER, hCard) == 1132 &&
                  offsetof(WD_CARD_REGISTER, dwOptions) == 1136 &&
                  offsetof(WD_CARD_REGISTER, cName) == 1140 &&
                  offsetof(WD_CARD_REGISTER, cDescription) == 1172,
              "card registration");

static_assert(sizeof(WD_TRANSFER) == 32 && offsetof(WD_TRANSFER, pPort) == 0 &&
                  offsetof(WD_TRANSFER, cmdTrans) == 8 && offsetof(WD_TRANSFER, dwBytes) == 12 &&
                  offsetof(WD_TRANSFER, fAutoinc) == 16 && offsetof(WD_TRANSFER, dwOptions) == 20 &&
                  offsetof(WD_TRANSFER, pBuffer) == 24,
              "single transfer");

static_assert(sizeof(WD_INTERRUPT) == 72 && offsetof(WD_INTERRUPT, hInterrupt) == 0 &&
                  offsetof(WD_INTERRUPT, dwOptions) == 4 && offsetof(WD_INTERRUPT, Cmd) == 8 &&
                  offsetof(WD_INTERRUPT, dwCmds) == 16 && offsetof(WD_INTERRUPT, kpCall) == 24 &&
                  offsetof(WD_INTERRUPT, kpCall.hKernelPlugIn) == 24 &&
                  offsetof(WD_INTERRUPT, kpCall.dwMessage) == 28 &&
                  offsetof(WD_INTERRUPT, kpCall.pData) == 32 && offsetof(WD_INTERRUPT, fEnableOk) == 40 &&
                  offsetof(WD_INTERRUPT, dwCounter) == 44 && offsetof(WD_INTERRUPT, dwLost) == 48 &&
                  offsetof(WD_INTERRUPT, fStopped) == 52 && offsetof(WD_INTERRUPT, dwLastMessage) == 56 &&
                  offsetof(WD_INTERRUPT, dwEnabledIntType) == 60 && offsetof(WD_INTERRUPT, reserved) == 64,
              "interrupt");

static_assert(sizeof(WD_DEBUG_ADD) == 264 && offsetof(WD_DEBUG_ADD, pcBuffer) == 0 &&
                  offsetof(WD_DEBUG_ADD, dwLevel) == 256 && offsetof(WD_DEBUG_ADD, dwSection) == 260,
              "debug message");

static_assert(sizeof(WDC_ADDR_SPACE) == 40, "address space of the device level");
