// The card object and the bridge over the fake access library: what the
// simulator cannot show (identification tables, register values out of
// range, a bridge that leads elsewhere) and the library handles every path
// leaves behind.
#include <gtest/gtest.h>

#include <cstring>

#include "Source/pci_lib.h"
#include "card/VjxPci.h"
#include "tests/driver/FakeMerix.h"

using namespace fakemerix;

namespace {

constexpr int kUnknown = 16;

Function Bridge(uint8_t bus, uint8_t secondary) {
    Function f;
    f.deviceId = 0x8111;
    f.bus = bus;
    f.setConfig32(0x00, 0x811110B5);
    f.config[0x0B] = 6;
    f.config[0x18] = bus;
    f.config[0x19] = secondary;
    f.setBar(0, 0xFEA00000);
    f.space0Length = 0x2000;
    return f;
}

class CardFakeTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override {
        EXPECT_TRUE(state().openHandles.empty())
            << state().openHandles.size() << " library handle(s) left open";
    }
    State& fake() { return state(); }
    static WD_PCI_SLOT Slot(const CVjxPci& card) {
        WD_PCI_SLOT slot = {};
        const_cast<CVjxPci&>(card).GetPciSlot(&slot);
        return slot;
    }
};

TEST_F(CardFakeTest, IdentificationByKey) {
    CVjxPci pci;
    const char* text = nullptr;
    EXPECT_EQ(pci.GetModel(0x335410B5, 0x80, &text), 10);  // revision 0x80 is not looked at here
    EXPECT_STREQ(text, "VJX PCIe M");
    EXPECT_EQ(pci.GetModel(0x905610B5, 0, &text), kUnknown);
    EXPECT_STREQ(text, "Unprogrammed PCIe card");
    EXPECT_EQ(pci.GetModel(0, 0, &text), kUnknown);
    EXPECT_STREQ(text, "Unprogrammed card");
    EXPECT_EQ(pci.GetModel(0x12345678, 0, &text), kUnknown);
    EXPECT_STREQ(text, "(Unknown)");
    EXPECT_EQ(pci.GetModel(0x359110B5, 0, nullptr), 15);

    EXPECT_EQ(pci.GetModelIndex(84), 11);
    EXPECT_EQ(pci.GetModelIndex(95), 15);
    EXPECT_EQ(pci.GetModelIndex(88), kUnknown);  // 5V cards take no files
    EXPECT_EQ(pci.GetModelIndex(96), kUnknown);  // Windows-only model
    EXPECT_EQ(pci.GetModelIndex(79), kUnknown);
}

TEST_F(CardFakeTest, UpdateCapabilityAndMigration) {
    CVjxPci pci;
    pci.SetModel(11);
    EXPECT_TRUE(pci.HasFlashUpdate());
    EXPECT_TRUE(pci.MigrationPossible(85));
    EXPECT_FALSE(pci.MigrationPossible(83));
    pci.SetModel(10);
    EXPECT_FALSE(pci.MigrationPossible(84));
    EXPECT_TRUE(pci.MigrationPossible(85));
    pci.SetModel(12);
    EXPECT_TRUE(pci.MigrationPossible(83));
    EXPECT_TRUE(pci.MigrationPossible(84));
    EXPECT_FALSE(pci.MigrationPossible(85));
    for (int model : {0, 1, 3, kUnknown}) {
        pci.SetModel(model);
        EXPECT_FALSE(pci.HasFlashUpdate()) << model;
    }
    pci.SetModel(6);
    EXPECT_TRUE(pci.HasFlashUpdate());
}

TEST_F(CardFakeTest, PcieCardWithoutItsBridgeIsClosedAgain) {
    fake().cards = {MakeCard(0x9056, 3, 0x335510B5)};
    fake().bridges = {Bridge(2, 9)};  // leads elsewhere
    CVjxPci pci;
    ASSERT_EQ(pci.Count(), 1u);
    EXPECT_EQ(pci.Open(0), 0);
    EXPECT_EQ(pci.GetBridgeType(), 0u);
    EXPECT_EQ(Slot(pci).dwSlot, 0u);
    EXPECT_TRUE(fake().openHandles.empty());
    EXPECT_STREQ(pci.getErrorString(), "No PCIe bridge found above the card on bus 3");
}

TEST_F(CardFakeTest, ReceiveIndexOutsideTheRingReadsZero) {
    fake().cards = {MakeCard(0x9030, 1, 0x306810B5)};
    CVjxPci pci;
    pci.Count();
    ASSERT_EQ(pci.Open(0), 1);
    auto& rptr = fake().cards[0].registers[2u << 24 | 0x94];
    rptr = 0x3F;
    EXPECT_EQ(pci.ReadRPTR(), 0x3F);
    rptr = 0x40;
    EXPECT_EQ(pci.ReadRPTR(), 0);
    rptr = 0xFF;  // what an FPGA that is not configured answers
    EXPECT_EQ(pci.ReadRPTR(), 0);
}

// One card open at a time: opening the next closes the one before, and the
// end of the object closes the last (a PCIe card's bridge with it).
TEST_F(CardFakeTest, OpeningAnotherCardClosesTheFirstAndTheEndClosesTheLast) {
    fake().cards = {MakeCard(0x9050, 1, 0x222110B5), MakeCard(0x9030, 2, 0x306810B5),
                    MakeCard(0x9056, 4, 0x335510B5)};
    fake().bridges = {Bridge(3, 4)};
    {
        CVjxPci pci;
        ASSERT_EQ(pci.Count(), 3u);
        ASSERT_EQ(pci.Open(0), 1);
        ASSERT_EQ(pci.Open(1), 1);
        EXPECT_EQ(fake().openHandles.size(), 1u);
        EXPECT_EQ(Slot(pci).dwSlot, 0x1002u);
        EXPECT_EQ(pci.GetBridgeType(), 2u);
        ASSERT_EQ(pci.Open(2), 1);
        EXPECT_EQ(fake().openHandles.size(), 2u);  // card and bridge
    }
    EXPECT_TRUE(fake().openHandles.empty());
}

// The driver opens once per process: a second card object reports why it
// could not start, and its end does not close the first object's driver.
TEST_F(CardFakeTest, SecondCardObjectFailsToStartAndLeavesTheDriverOpen) {
    fake().cards = {MakeCard(0x9030, 1, 0x306810B5)};
    CVjxPci first;
    {
        CVjxPci second;
        EXPECT_EQ(second.GetLibInitResult(), 0x20000002u);
        EXPECT_STREQ(second.GetLibInitResultStr(),
                     "Failed to initialize the MERIX library. Error 0x20000002 - Operation already done\n");
    }
    EXPECT_EQ(first.Count(), 1u);
}

}  // namespace
