// The Linux adapter and the PCI library on simulated hardware.
#include <gtest/gtest.h>

#include <cstring>

#include "Source/pci_lib.h"
#include "tests/card/BusTrace.h"

namespace {

class AdapterSim : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(VJX_PCI_LibInit(), 0u); }
    void TearDown() override { VJX_PCI_LibUninit(); }
};

TEST_F(AdapterSim, CardAddressSpacesFromItsBars) {
    testsupport::SimRack rack({"80"});
    VJX_PCI_STRUCT* card = nullptr;
    ASSERT_EQ(VJX_PCI_Open(&card, 0x10B5, 0x9030, 0), 1) << VJX_PCI_ErrorString;
    WDC_DEVICE_HANDLE dev = card->hDevice;
    ASSERT_EQ(VJX_PCI6_GetNumAddrSpaces(dev), 3u);
    EXPECT_NE(WDC_AddrSpaceIsActive(dev, 0), 0u);
    EXPECT_EQ(WDC_AddrSpaceIsActive(dev, 1), 0u);  // the I/O BAR is not reached by this driver
    EXPECT_NE(WDC_AddrSpaceIsActive(dev, 2), 0u);
    EXPECT_EQ(dev->id.dwDeviceId, 0x9030u);

    rack.clearTrace();
    VJX_PCI_ReadCNTRL_9030(card);
    VJX_PCI_WriteTRCON(card, 0x15);
    const auto accesses = bustrace::Accesses(rack);
    ASSERT_EQ(accesses.size(), 2u);
    EXPECT_EQ(accesses[1].line.substr(accesses[1].line.find("card1")), "card1 w 2 8c 8 15");
    VJX_PCI_Close(card);

    ASSERT_EQ(VJX_PCI_Open(&card, 0x10B5, 0x9030, 1), 0);
    EXPECT_STREQ(VJX_PCI_ErrorString, "Can't open device 1 of 1 devices\n");
}

TEST_F(AdapterSim, ConfigurationReadsAreLowByteFirst) {
    testsupport::SimRack rack({"84"});
    WD_PCI_SLOT slot;
    ASSERT_EQ(DeviceFindEx(0x10B5, 0x8111, 0, &slot), 1);
    WD_HANDLE driver = WDC_GetWDHandle();
    EXPECT_EQ(PCI_ReadBytes(driver, slot, 0, 4), 0x811110B5u);
    EXPECT_EQ(PCI_ReadBytes(driver, slot, 2, 2), 0x8111u);
    EXPECT_EQ(PCI_ReadBytes(driver, slot, 0x0B, 1), 6u);
    EXPECT_EQ(PCI_ReadBytes(driver, slot, 0x19, 1), 2u);  // secondary bus: the card's
    EXPECT_EQ(PCI_ReadBytes(driver, slot, 0xFE, 4), 0u);  // beyond the 256 bytes
    // This driver has no configuration write: it is carried out as a read.
    rack.clearTrace();
    PCI_WriteBytes(driver, slot, 0x84, 4, 0x20);
    for (const auto& a : bustrace::Accesses(rack)) EXPECT_EQ(a.op, "cr") << a.line;
}

}  // namespace
