// The Linux adapter over the access library: access numbers, scan order,
// resources from the BARs, registration, register access, and every library
// handle closed on every path.
#include <cstring>

#include "FakeFixture.h"

using namespace fakemerix;

namespace {

WD_PCI_SCAN_CARDS Scan(DWORD vendor, DWORD device, DWORD* status) {
    WD_PCI_SCAN_CARDS scan;
    std::memset(&scan, 0, sizeof scan);
    scan.searchId = {vendor, device};
    *status = WD_PciScanCards(WDC_GetWDHandle(), &scan);
    return scan;
}

WD_PCI_CARD_INFO CardInfo(DWORD number, DWORD* status) {
    WD_PCI_CARD_INFO info;
    std::memset(&info, 0, sizeof info);
    info.pciSlot.dwSlot = number;
    *status = WD_PciGetCardInfo(WDC_GetWDHandle(), &info);
    return info;
}

using AdapterTest = FakeDriverTest;

// The scan tries card numbers up to the first that does not open, then
// bridge numbers likewise. (What it lists is seen on the simulator.)
TEST_F(AdapterTest, ScanTriesNumbersUpToTheFirstMissingOne) {
    DWORD status = 1;
    EXPECT_EQ(Scan(0, 0, &status).dwCards, 0u);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(fake().opened, (std::vector<unsigned>{0x1001, 0x1015}));
    fake().cards = {MakeFunction(0x9056, 3), MakeFunction(0x9030, 5)};
    fake().bridges = {MakeFunction(0x8111, 2)};
    fake().opened.clear();
    EXPECT_EQ(Scan(0, 0, &status).dwCards, 3u);
    EXPECT_EQ(fake().opened, (std::vector<unsigned>{0x1001, 0x1002, 0x1003, 0x1015, 0x1016}));
}

TEST_F(AdapterTest, TwentyCardsAndTwentyBridgesAreTheLimit) {
    for (int i = 0; i < 21; ++i) {
        fake().cards.push_back(MakeFunction(0x9056, static_cast<uint8_t>(2 * i + 1)));
        fake().bridges.push_back(MakeFunction(0x8111, static_cast<uint8_t>(2 * i)));
    }
    DWORD status = 1;
    WD_PCI_SCAN_CARDS scan = Scan(0, 0, &status);
    EXPECT_EQ(scan.dwCards, 40u);
    EXPECT_EQ(scan.cardSlot[19].dwSlot, 0x1014u);
    EXPECT_EQ(scan.cardSlot[20].dwSlot, 0x1015u);
    EXPECT_EQ(scan.cardSlot[39].dwSlot, 0x1028u);
    EXPECT_EQ(fake().opened.back(), 0x1028u);
}

TEST_F(AdapterTest, LibraryFailuresAfterOpenFailTheCallAndCloseTheHandle) {
    fake().cards = {MakeFunction(0x9056, 3)};
    for (Call call : {Call::GetDeviceId, Call::GetDeviceInfo}) {
        fake().failing = {{call, 0x1001}};
        DWORD status = 0;
        Scan(0, 0, &status);
        EXPECT_EQ(status, 0x20000000u);
        EXPECT_TRUE(fake().openHandles.empty());
        CardInfo(0x1001, &status);
        if (call == Call::GetDeviceInfo) {
            EXPECT_EQ(status, 0x20000000u);
        }
        EXPECT_TRUE(fake().openHandles.empty());
    }
    fake().failing = {{Call::ConfigDump, 0x1001}};
    DWORD status = 0;
    CardInfo(0x1001, &status);
    EXPECT_EQ(status, 0x20000000u);
    uint32_t value = 0;
    WD_PCI_CONFIG_DUMP dump = {};
    dump.pciSlot.dwSlot = 0x1001;
    dump.pBuffer = &value;
    dump.dwBytes = 4;
    dump.fIsRead = 1;
    EXPECT_EQ(WD_PciConfigDump(WDC_GetWDHandle(), &dump), 0x20000000u);
    EXPECT_TRUE(fake().openHandles.empty());
}

// BAR types the simulated cards never have: an I/O BAR 1, a memory BAR 3
// (kept without a type), and a BAR 2 on I/O (no address space 2).
TEST_F(AdapterTest, CardInfoFromBars) {
    Function f = MakeFunction(0x9030, 4);
    f.setBar(1, 0x0000E001);
    f.setBar(3, 0xFEA00000);
    Function io2 = MakeFunction(0x9030, 4);
    io2.setBar(2, 0x0000D001);
    fake().cards = {f, io2};
    DWORD status = 1;
    WD_PCI_CARD_INFO info = CardInfo(0x1001, &status);
    ASSERT_EQ(status, 0u);
    ASSERT_EQ(info.Card.dwItems, 4u);
    const WD_ITEM* item = info.Card.Item;
    EXPECT_EQ(item[0].item, ITEM_MEMORY);
    EXPECT_EQ(item[0].I.Mem.pPhysicalAddr, 0xFE800000u);
    EXPECT_EQ(item[0].I.Mem.qwBytes, 0x80u);
    EXPECT_EQ(item[0].I.Mem.pTransAddr, 0x1001u);
    EXPECT_EQ(item[0].I.Mem.dwBar, 0u);
    EXPECT_EQ(item[1].item, ITEM_IO);
    EXPECT_EQ(item[1].I.IO.pAddr, 0xE000u);
    EXPECT_EQ(item[1].I.IO.dwBytes, 0u);
    EXPECT_EQ(item[1].I.IO.dwBar, 1u);
    EXPECT_EQ(item[2].item, ITEM_MEMORY);
    EXPECT_EQ(item[2].I.Mem.qwBytes, 0x100u);
    EXPECT_EQ(item[2].I.Mem.dwBar, 2u);
    EXPECT_EQ(item[3].item, ITEM_NONE);

    info = CardInfo(0x1002, &status);
    ASSERT_EQ(info.Card.dwItems, 2u);
    EXPECT_EQ(info.Card.Item[1].item, ITEM_NONE);
    info.pciSlot = {4, 0x1002, 0x9030};
    WDC_DEVICE_HANDLE device = nullptr;
    ASSERT_EQ(WDC_PciDeviceOpen(&device, &info, nullptr), 0u);
    EXPECT_EQ(device->dwNumAddrSpaces, 1u);
    EXPECT_EQ(WDC_AddrSpaceIsActive(device, 2), 0u);
    EXPECT_EQ(WDC_PciDeviceClose(device), 0u);
    EXPECT_TRUE(fake().openHandles.empty());
}

TEST_F(AdapterTest, RegisterAccessGoesToTheRegisteredHandle) {
    Function f = MakeFunction(0x9030, 4);
    f.registers[2u << 24 | 0x7C] = 0x1234;
    f.registers[0x50] = 0xCAFE0001;
    fake().cards = {f};
    VJX_PCI_STRUCT* card = nullptr;
    ASSERT_EQ(VJX_PCI_Open(&card, 0x10B5, 0x9030, 0), 1) << Error();
    EXPECT_EQ(VJX_PCI_ReadVERSION(card), 0x34);
    EXPECT_EQ(VJX_PCI_ReadCNTRL_9030(card), 0xCAFE0001u);
    VJX_PCI_WriteTRCON(card, 0x115);  // masked to 8 bits
    VJX_PCI_WriteINTCSR_9030(card, 0x542);
    EXPECT_EQ(fake().writes, (std::vector<std::string>{"2 8c 8 15", "0 4c 32 542"}));

    fake().failing = {{Call::Read, 0}};
    EXPECT_EQ(VJX_PCI_ReadVERSION(card), 0xFF);  // as an unclaimed PCI read
    uint32_t value = 0;
    EXPECT_EQ(WDC_ReadAddr32(card->hDevice, 0, 0x50, &value), 0x20000000u);
    EXPECT_EQ(value, 0xFFFFFFFFu);
    fake().failing = {{Call::Write, 0}};
    EXPECT_EQ(VJX_PCI6_WriteCFG(card->hDevice, 1), 0x20000000u);
    VJX_PCI_Close(card);
}

TEST_F(AdapterTest, DriverOpensOnceAndCountsItsOpens) {
    WD_HANDLE first = WDC_GetWDHandle();
    EXPECT_EQ(WDC_DriverOpen(WDC_DRV_OPEN_DEFAULT), 0x20000002u);
    EXPECT_EQ(WDC_GetWDHandle(), first);
    EXPECT_EQ(VJX_PCI_LibInit(), 0x20000002u);
    EXPECT_STREQ(VJX_PCI6_GetLastErr(),
                 "Failed to initialize the MERIX library. Error 0x20000002 - Operation already done\n");

    WD_HANDLE second = WD_Open();
    EXPECT_EQ(*static_cast<int*>(second), 2);
    WD_Close(second);
    EXPECT_EQ(*static_cast<int*>(first), 1);
    WD_VERSION version = {};
    EXPECT_EQ(WD_Version(first, &version), 0u);
    EXPECT_EQ(version.dwVer, 830u);
}

TEST_F(AdapterTest, StatusTexts) {
    EXPECT_STREQ(Stat2Str(0), "Success");
    EXPECT_STREQ(Stat2Str(0x20000004), "Insufficient ressources");
    EXPECT_STREQ(Stat2Str(0x20000007), "Got less data that requested");
    EXPECT_STREQ(Stat2Str(0x20000009), "Region was not mapped");
    EXPECT_STREQ(Stat2Str(2), std::strerror(2));
}

}  // namespace
