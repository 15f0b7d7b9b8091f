// Low level of the driver-call interface over libmerix32. The library knows
// no bus positions, only access numbers, so a function's slot carries its
// access number (and its device ID as the function number), and the
// WinDriver records are built from what the library reports.
#include <cstring>

#include "../../chips/PlxPci90xx.h"
#include "../wdc_lib.h"
#include "MerixHandle.h"

namespace {

constexpr DWORD kPlxVendor = plx::kVendorId;
constexpr DWORD kDriverVersion = 830;
constexpr const char* kVersionText = "MERIX adapter 8.30";
constexpr DWORD kConfigSpaceSize = 256;
constexpr DWORD kBarOffset = 0x10;
constexpr DWORD kBars = 6;

// The driver handle: one counter cell, 1 on the first open, one more for
// each further open, forgotten when the last open is closed.
int g_openCount = 0;

bool CardMatches(const WD_PCI_ID& search, DWORD deviceId) {
    if (search.dwVendorId != 0 && search.dwVendorId != kPlxVendor) return false;
    if (search.dwDeviceId != 0 && search.dwDeviceId != deviceId) return false;
    return true;
}

// Fills one resource item from the BAR value. BAR 0 and a memory BAR 2 take
// their lengths from the library; a BAR 2 on I/O or a BAR 3 on memory would
// be a space the library cannot reach, so it is kept with type none.
void FillItem(WD_ITEM* item, DWORD bar, UINT64 value, bool io, DWORD number, const vjxDeviceInfo& info) {
    std::memset(item, 0, sizeof *item);
    if (io) {
        item->item = bar == 2 ? ITEM_NONE : ITEM_IO;
        item->I.IO.pAddr = value & ~UINT64(0x3);
        item->I.IO.dwBytes = bar == 0 ? static_cast<DWORD>(info.space0Length) : 0;
        item->I.IO.dwBar = bar;
        return;
    }
    item->item = bar == 3 ? ITEM_NONE : ITEM_MEMORY;
    item->I.Mem.pPhysicalAddr = value & ~UINT64(0xF);
    item->I.Mem.pTransAddr = number;
    item->I.Mem.dwBar = bar;
    if (bar == 0)
        item->I.Mem.qwBytes = info.space0Length;
    else if (bar == 2)
        item->I.Mem.qwBytes = info.space2Length;
}

// The access number a registration opens: the transfer address of the first
// memory (or none) item that carries one.
DWORD RegisteredNumber(const WD_CARD& card) {
    const DWORD items = card.dwItems < WD_CARD_ITEMS ? card.dwItems : WD_CARD_ITEMS;
    for (DWORD i = 0; i < items; ++i) {
        const WD_ITEM& item = card.Item[i];
        if ((item.item == ITEM_MEMORY || item.item == ITEM_NONE) &&
            merix::IsAccessNumber(item.I.Mem.pTransAddr))
            return static_cast<DWORD>(item.I.Mem.pTransAddr);
    }
    return 0;
}

}  // namespace

namespace merix {

int OpenDevice(int* handle, DWORD number) {
    if (number >= kFirstCard && number < kFirstBridge) return vjxOpen(handle, number);
    if (number >= kFirstBridge && number < kEndOfNumbers)
        return vjxOpenBridge(handle, number - kBridgeOffset);
    return -1;
}

}  // namespace merix

WD_HANDLE WD_Open() {
    ++g_openCount;
    return &g_openCount;
}

void WD_Close(WD_HANDLE handle) {
    if (handle != &g_openCount || g_openCount == 0) return;
    --g_openCount;
}

DWORD WD_Version(WD_HANDLE handle, WD_VERSION* version) {
    if (!WdHandleValid(handle)) return MERIX_INVALID_HANDLE;
    if (!version) return MERIX_INVALID_PARAMETER;
    version->dwVer = kDriverVersion;
    std::strncpy(version->cVer, kVersionText, sizeof version->cVer - 1);
    version->cVer[sizeof version->cVer - 1] = '\0';
    return WD_STATUS_SUCCESS;
}

// Cards first (0x1001 up to the first number that does not open), then
// bridges (0x1015 up likewise). Every function the library opens is PLX's.
DWORD WD_PciScanCards(WD_HANDLE handle, WD_PCI_SCAN_CARDS* scan) {
    if (!WdHandleValid(handle)) return MERIX_INVALID_HANDLE;
    if (!scan) return MERIX_INVALID_PARAMETER;
    scan->dwCards = 0;
    for (DWORD n = merix::kFirstCard; n < merix::kEndOfNumbers; ++n) {
        merix::ScopedHandle h;
        if (h.Open(n) != 0) {
            if (n >= merix::kFirstBridge) break;
            n = merix::kFirstBridge - 1;  // on to the bridges
            continue;
        }
        uint16_t deviceId = 0;
        if (vjxGetDeviceId(h.get(), &deviceId) != 0) return MERIX_FAILED;
        if (!CardMatches(scan->searchId, deviceId)) continue;
        vjxDeviceInfo info;
        std::memset(&info, 0, sizeof info);
        if (vjxGetDeviceInfo(h.get(), &info) != 0) return MERIX_FAILED;
        if (scan->dwCards >= WD_PCI_CARDS) break;
        const DWORD i = scan->dwCards++;
        scan->cardId[i] = WD_PCI_ID{kPlxVendor, deviceId};
        scan->cardSlot[i] = WD_PCI_SLOT{info.bus, n, deviceId};
    }
    return WD_STATUS_SUCCESS;
}

// Resources from the BARs in configuration space. A function with no memory
// BAR still gets the access number into its resources (in a none item), so
// that it can be registered and reached by configuration cycles.
DWORD WD_PciGetCardInfo(WD_HANDLE handle, WD_PCI_CARD_INFO* info) {
    if (!WdHandleValid(handle)) return MERIX_INVALID_HANDLE;
    if (!info) return MERIX_INVALID_PARAMETER;
    const DWORD number = info->pciSlot.dwSlot;
    std::memset(&info->Card, 0, sizeof info->Card);

    merix::ScopedHandle h;
    if (h.Open(number) != 0) return MERIX_FAILED;
    vjxDeviceInfo dev;
    std::memset(&dev, 0, sizeof dev);
    if (vjxGetDeviceInfo(h.get(), &dev) != 0) return MERIX_FAILED;

    WD_CARD& card = info->Card;
    for (DWORD bar = 0; bar < kBars; ++bar) {
        uint32_t value = 0;
        if (vjxConfigDump(h.get(), kBarOffset + 4 * bar, 4, &value) != 0) return MERIX_FAILED;
        if (value == 0) continue;
        const bool io = (value & 0x1) != 0;
        UINT64 address = value;
        // A 64-bit memory BAR takes the next BAR as its upper half.
        const bool wide = !io && (value & 0x6) == 0x4 && bar + 1 < kBars;
        if (wide) {
            uint32_t upper = 0;
            if (vjxConfigDump(h.get(), kBarOffset + 4 * (bar + 1), 4, &upper) != 0) return MERIX_FAILED;
            address |= UINT64(upper) << 32;
        }
        FillItem(&card.Item[card.dwItems++], bar, address, io, number, dev);
        if (wide) ++bar;
    }
    if (RegisteredNumber(card) == 0) {
        WD_ITEM& item = card.Item[card.dwItems++];
        item.item = ITEM_NONE;
        item.I.Mem.pTransAddr = number;
    }
    return WD_STATUS_SUCCESS;
}

// The library has no configuration write: every dump is performed as a read,
// whatever its direction says.
DWORD WD_PciConfigDump(WD_HANDLE handle, WD_PCI_CONFIG_DUMP* dump) {
    if (!WdHandleValid(handle)) return MERIX_INVALID_HANDLE;
    if (!dump) return MERIX_INVALID_PARAMETER;
    if (!dump->pBuffer || dump->dwOffset > kConfigSpaceSize ||
        dump->dwBytes > kConfigSpaceSize - dump->dwOffset) {
        dump->dwResult = MERIX_INVALID_PARAMETER;
        return MERIX_INVALID_PARAMETER;
    }
    merix::ScopedHandle h;
    DWORD status = WD_STATUS_SUCCESS;
    if (h.Open(dump->pciSlot.dwSlot) != 0 ||
        vjxConfigDump(h.get(), dump->dwOffset, dump->dwBytes, dump->pBuffer) != 0)
        status = MERIX_FAILED;
    dump->dwResult = status;
    return status;
}

// A registered card keeps one library handle until it is unregistered; the
// card handle is that library handle + 1 (0 means not registered).
DWORD WD_CardRegister(WD_HANDLE handle, WD_CARD_REGISTER* card) {
    if (!WdHandleValid(handle)) return MERIX_INVALID_HANDLE;
    if (!card) return MERIX_INVALID_PARAMETER;
    card->hCard = 0;
    const DWORD number = RegisteredNumber(card->Card);
    if (number == 0) return MERIX_DEVICE_NOT_FOUND;
    int h = -1;
    if (merix::OpenDevice(&h, number) != 0) return MERIX_FAILED;
    if (h == -1) {  // a handle the card handle cannot carry
        vjxClose(h);
        return MERIX_FAILED;
    }
    card->hCard = static_cast<DWORD>(h) + 1;
    return WD_STATUS_SUCCESS;
}

// The held library handle is released even when the driver was closed first.
DWORD WD_CardUnregister(WD_HANDLE, WD_CARD_REGISTER* card) {
    if (!card) return MERIX_INVALID_PARAMETER;
    if (card->hCard != 0) vjxClose(static_cast<int>(card->hCard - 1));
    card->hCard = 0;
    return WD_STATUS_SUCCESS;
}
