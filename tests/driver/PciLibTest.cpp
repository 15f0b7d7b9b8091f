// PCI library and device library over the fake access library: the exact
// texts of their failures, and the handles they hold.
#include <cstring>

#include "FakeFixture.h"

using namespace fakemerix;

namespace {

using PciLibTest = FakeDriverTest;

TEST_F(PciLibTest, CountFailures) {
    fake().cards = {MakeFunction(0x9030, 1)};
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
    fake().cards = {MakeFunction(0x9030, 1), MakeFunction(0x9056, 3), MakeFunction(0x9030, 5)};
    WD_PCI_SLOT slot = {};
    ASSERT_EQ(DeviceFindEx(0x10B5, 0x9030, 1, &slot), 1);
    EXPECT_EQ(slot.dwBus, 5u);
    EXPECT_EQ(slot.dwSlot, 0x1003u);

    fake().failing = {{Call::GetDeviceId, 0x1002}};
    EXPECT_EQ(DeviceFindEx(0x10B5, 0x9030, 0, &slot), 0);
    EXPECT_EQ(Error(), "DeviceFind: Failed scanning the PCI bus.\nError: 0x20000000 - Operation failed\n");
}

TEST_F(PciLibTest, OpenAndCloseHoldOneHandle) {
    fake().cards = {MakeFunction(0x9030, 1), MakeFunction(0x9030, 5)};
    VJX_PCI_STRUCT* card = nullptr;
    ASSERT_EQ(VJX_PCI_Open(&card, 0x10B5, 0x9030, 1), 1) << Error();
    WD_PCI_SLOT slot = {};
    VJX_PCI_GetPciSlot(card, &slot);
    EXPECT_EQ(slot.dwSlot, 0x1002u);
    EXPECT_EQ(slot.dwFunction, 0x9030u);
    EXPECT_EQ(card->hDevice->id.dwDeviceId, 0x9030u);
    EXPECT_EQ(fake().openHandles.size(), 1u);
    VJX_PCI_Close(card);
    VJX_PCI_Close(nullptr);
    EXPECT_TRUE(fake().openHandles.empty());

    card = reinterpret_cast<VJX_PCI_STRUCT*>(&slot);
    EXPECT_EQ(VJX_PCI_Open(&card, 0x10B5, 0x9030, 2), 0);
    EXPECT_EQ(card, nullptr);
}

TEST_F(PciLibTest, OpenFailures) {
    fake().cards = {MakeFunction(0x9030, 1)};
    VJX_PCI_STRUCT* card = nullptr;

    fake().failing = {{Call::ConfigDump, 0x1001}};
    EXPECT_EQ(VJX_PCI_Open(&card, 0x10B5, 0x9030, 0), 0);
    EXPECT_EQ(
        Error(),
        "DeviceOpen: Failed retrieving the device's resources information.\nError 0x20000000 - Operation "
        "failed\n");

    // The function no longer opens when the device is opened.
    fake().failing.clear();
    fake().opened.clear();
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

TEST_F(PciLibTest, AddressSpaceDescriptions) {
    Function f = MakeFunction(0x9030, 4);
    f.setBar(1, 0xE001);
    fake().cards = {f};
    VJX_PCI_STRUCT* card = nullptr;
    ASSERT_EQ(VJX_PCI_Open(&card, 0x10B5, 0x9030, 0), 1);
    VJX_PCI6_ADDR_SPACE_INFO info = {};
    info.dwAddrSpace = 0;
    ASSERT_TRUE(VJX_PCI6_GetAddrSpaceInfo(card->hDevice, &info));
    EXPECT_STREQ(info.sType, "Memory");
    EXPECT_STREQ(info.sName, "BAR 0");
    EXPECT_STREQ(info.sDesc, "0xFE800000 - 0xFE80007F (0x80 bytes)");
    info.dwAddrSpace = 1;
    ASSERT_TRUE(VJX_PCI6_GetAddrSpaceInfo(card->hDevice, &info));
    EXPECT_STREQ(info.sType, "I/O");
    EXPECT_STREQ(info.sDesc, "Inactive address space");
    info.dwAddrSpace = 3;
    EXPECT_FALSE(VJX_PCI6_GetAddrSpaceInfo(card->hDevice, &info));
    EXPECT_STREQ(VJX_PCI6_GetLastErr(),
                 "VJX_PCI6_GetAddrSpaceInfo: Error - Address space 3 is out of range (0 - 2)\n");
    VJX_PCI_Close(card);
}

}  // namespace
