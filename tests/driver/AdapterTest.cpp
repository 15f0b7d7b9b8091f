// The driver layer over the fake access library: the adapter (access
// numbers, scan order, resources from the BARs, register access), the PCI and
// device libraries (the exact texts of their failures), and every library
// handle closed again on every path.
#include <gtest/gtest.h>

#include <cstring>

#include "FakeMerix.h"
#include "Source/pci_lib.h"

using namespace fakemerix;

namespace {

class FakeDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset();
        ASSERT_EQ(VJX_PCI_LibInit(), 0u);
    }
    void TearDown() override {
        VJX_PCI_LibUninit();
        EXPECT_TRUE(state().openHandles.empty())
            << state().openHandles.size() << " library handle(s) left open";
    }
    State& fake() { return state(); }
    std::string Error() const { return VJX_PCI_ErrorString; }
};

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

TEST_F(AdapterTest, LibraryFailuresAfterOpenFailTheCallAndCloseTheHandle) {
    fake().cards = {MakeCard(0x9056, 3, 0)};
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

// BAR types the simulated cards never have: an I/O BAR 1 and a memory BAR 3
// (kept without a type).
TEST_F(AdapterTest, CardInfoFromBars) {
    Function f = MakeCard(0x9030, 4, 0);
    f.setBar(3, 0xFEA00000);
    fake().cards = {f};
    DWORD status = 1;
    WD_PCI_CARD_INFO info = CardInfo(0x1001, &status);
    ASSERT_EQ(status, 0u);
    ASSERT_EQ(info.Card.dwItems, 4u);
    const WD_ITEM* item = info.Card.Item;
    EXPECT_EQ(item[0].item, ITEM_MEMORY);
    EXPECT_EQ(item[0].I.Mem.pPhysicalAddr, 0xFE800000u);
    EXPECT_EQ(item[0].I.Mem.qwBytes, 0x100u);
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
}

TEST_F(AdapterTest, RegisterAccessGoesToTheRegisteredHandle) {
    Function f = MakeCard(0x9030, 4, 0);
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

TEST_F(AdapterTest, StatusTexts) {
    EXPECT_STREQ(Stat2Str(0), "Success");
    EXPECT_STREQ(Stat2Str(0x20000004), "Insufficient ressources");
    EXPECT_STREQ(Stat2Str(0x20000007), "Got less data that requested");
    EXPECT_STREQ(Stat2Str(0x20000009), "Region was not mapped");
    EXPECT_STREQ(Stat2Str(2), std::strerror(2));
}

using PciLibTest = FakeDriverTest;

TEST_F(PciLibTest, CountFailures) {
    fake().cards = {MakeCard(0x9030, 1, 0)};
    fake().failing = {{Call::GetDeviceInfo, 0}};
    EXPECT_EQ(VJX_PCI_CountCards(0x10B5, 0x9030), 0u);
    EXPECT_EQ(Error(), "Failed counting cards. Operation failed\n");

    VJX_PCI_LibUninit();
    EXPECT_EQ(VJX_PCI_CountCards(0x10B5, 0x9030), 0u);
    EXPECT_EQ(Error(), "Failed opening device driver\n");
    WD_HANDLE handle = nullptr;
    EXPECT_EQ(PCI_Get_WD_handle(&handle), 0);
    EXPECT_EQ(Error(), "Failed opening ../Source/pci_lib device\n");
    ASSERT_EQ(VJX_PCI_LibInit(), 0u);
}

// The minor version is printed with two digits.
TEST_F(PciLibTest, DriverVersionCheck) {
    EXPECT_EQ(VJX_PCI_DriverVersionOk(829), 0);
    EXPECT_EQ(Error(), "Incorrect device driver version (8.29 < 8.30)\n");
    EXPECT_EQ(VJX_PCI_DriverVersionOk(705), 0);
    EXPECT_EQ(Error(), "Incorrect device driver version (7.05 < 8.30)\n");
    VJX_PCI_ERR("%s", "");
    EXPECT_EQ(VJX_PCI_DriverVersionOk(830), 1);
    EXPECT_EQ(VJX_PCI_DriverVersionOk(1190), 1);
    EXPECT_EQ(Error(), "");
    // Nothing reported: the device library's last error says why.
    VJX_PCI_LibInit();  // fails: already open, and leaves its text
    EXPECT_EQ(VJX_PCI_DriverVersionOk(0), 0);
    EXPECT_EQ(Error(), std::string(VJX_PCI6_GetLastErr()) + "\n");
}

TEST_F(PciLibTest, FindByIndex) {
    fake().cards = {MakeCard(0x9030, 1, 0), MakeCard(0x9056, 3, 0), MakeCard(0x9030, 5, 0)};
    WD_PCI_SLOT slot = {};
    ASSERT_EQ(DeviceFindEx(0x10B5, 0x9030, 1, &slot), 1);
    EXPECT_EQ(slot.dwBus, 5u);
    EXPECT_EQ(slot.dwSlot, 0x1003u);

    fake().failing = {{Call::GetDeviceId, 0x1002}};
    EXPECT_EQ(DeviceFindEx(0x10B5, 0x9030, 0, &slot), 0);
    EXPECT_EQ(Error(), "DeviceFind: Failed scanning the PCI bus.\nError: 0x20000000 - Operation failed\n");
}

TEST_F(PciLibTest, OpenFailures) {
    fake().cards = {MakeCard(0x9030, 1, 0)};
    VJX_PCI_STRUCT* card = nullptr;

    fake().failing = {{Call::ConfigDump, 0x1001}};
    EXPECT_EQ(VJX_PCI_Open(&card, 0x10B5, 0x9030, 0), 0);
    EXPECT_EQ(
        Error(),
        "DeviceOpen: Failed retrieving the device's resources information.\nError 0x20000000 - Operation "
        "failed\n");

    // The function no longer opens when the device is opened.
    fake().failing.clear();
    WD_PCI_SLOT slot = {1, 0x1001, 0x9030};
    WD_PCI_CARD_INFO info = {};
    info.pciSlot = slot;
    ASSERT_EQ(WDC_PciGetDeviceInfo(&info), 0u);
    fake().failing = {{Call::Open, 0x1001}};
    EXPECT_EQ(VJX_PCI6_DeviceOpen(&info), nullptr);
    EXPECT_STREQ(VJX_PCI6_GetLastErr(),
                 "Failed opening a MERIX device handle. Error 0x20000004 - Insufficient ressources\n");

    // A slot no function has.
    fake().failing.clear();
    info.pciSlot.dwFunction = 0x9056;
    EXPECT_EQ(VJX_PCI6_DeviceOpen(&info), nullptr);
    EXPECT_STREQ(WdcGetLastErrStr(),
                 "Failed to locate the device (bus: 0x1, slot: 0x1001, function: 0x9056)\n");
    EXPECT_TRUE(fake().openHandles.empty());
}

}  // namespace
