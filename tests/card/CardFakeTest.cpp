// The card object and the bridge over the fake access library: counting
// order, opening by running number, bridge discovery, register dispatch,
// and the handles every path leaves behind.
#include <gtest/gtest.h>

#include <cstring>

#include "Source/pci_lib.h"
#include "card/VjxPci.h"
#include "tests/driver/FakeMerix.h"

using namespace fakemerix;

namespace {

constexpr int kUnknown = 16;

Function Card(uint16_t device, uint8_t bus, uint32_t key) {
    Function f;
    f.deviceId = device;
    f.bus = bus;
    f.setConfig32(0x00, uint32_t(device) << 16 | 0x10B5);
    f.setConfig32(0x08, 0x06800001);  // class: other bridge device
    f.setConfig32(0x2C, key);
    f.setBar(0, 0xFE800000);
    f.setBar(1, 0xE001);
    f.setBar(2, 0xFE900000);
    f.space0Length = 0x100;
    f.space2Length = 0x100;
    return f;
}

Function Bridge(uint8_t bus, uint8_t secondary, bool memory = true) {
    Function f;
    f.deviceId = 0x8111;
    f.bus = bus;
    f.setConfig32(0x00, 0x811110B5);
    f.config[0x0B] = 6;
    f.config[0x18] = bus;
    f.config[0x19] = secondary;
    if (memory) {
        f.setBar(0, 0xFEA00000);
        f.space0Length = 0x2000;
    }
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

TEST_F(CardFakeTest, CardsAreNumbered9050Then9030Then9056) {
    fake().cards = {Card(0x9056, 3, 0x335510B5), Card(0x9030, 1, 0x306810B5), Card(0x9050, 5, 0x222110B5),
                    Card(0x9030, 7, 0x290610B5)};
    fake().bridges = {Bridge(2, 3)};
    CVjxPci pci;
    ASSERT_EQ(pci.GetLibInitResult(), 0u);
    ASSERT_EQ(pci.Count(), 4u);

    struct Expect {
        DWORD number;
        uint32_t bridgeType;
        int model;
        const char* description;
    };
    const Expect expected[] = {{0x1003, 1, 0, "VJX PCI M (5V)"},
                               {0x1002, 2, 6, "VJX PCI S"},
                               {0x1004, 2, 4, "PCI Q"},
                               {0x1001, 3, 11, "VJX PCIe K"}};
    for (unsigned i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(pci.Open(i), 1) << pci.getErrorString();
        EXPECT_EQ(Slot(pci).dwSlot, expected[i].number);
        EXPECT_EQ(pci.GetBridgeType(), expected[i].bridgeType);
        EXPECT_EQ(pci.GetModel(), expected[i].model);
        EXPECT_STREQ(pci.GetModelDesc(), expected[i].description);
        pci.Close();
        EXPECT_EQ(pci.GetBridgeType(), 0u);
        EXPECT_EQ(pci.GetModel(), kUnknown);
    }
    EXPECT_EQ(pci.Open(4), 0);
    EXPECT_EQ(pci.GetBridgeType(), 0u);
}

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
    fake().cards = {Card(0x9056, 3, 0x335510B5)};
    fake().bridges = {Bridge(2, 9)};  // leads elsewhere
    CVjxPci pci;
    ASSERT_EQ(pci.Count(), 1u);
    EXPECT_EQ(pci.Open(0), 0);
    EXPECT_EQ(pci.GetBridgeType(), 0u);
    EXPECT_EQ(Slot(pci).dwSlot, 0u);
    EXPECT_TRUE(fake().openHandles.empty());
    EXPECT_STREQ(pci.getErrorString(), "No PCIe bridge found above the card on bus 3");
}

// Of two PEX 8111s only the one whose secondary bus is the card's is taken.
TEST_F(CardFakeTest, TheBridgeAboveTheCardIsTaken) {
    fake().cards = {Card(0x9056, 3, 0x335510B5), Card(0x9056, 5, 0x341510B5)};
    Function other = Bridge(4, 5);
    other.registers[0x1020] = 0xAA;
    Function mine = Bridge(2, 3);
    mine.registers[0x1020] = 0x55;
    fake().bridges = {other, mine};
    CVjxPci pci;
    ASSERT_EQ(pci.Count(), 2u);

    CPciBridge bridge;
    ASSERT_EQ(pci.Open(0), 1);
    WD_PCI_SLOT slot = Slot(pci);
    ASSERT_EQ(bridge.Open(0x10B5, 0x8111, &slot), 1);
    EXPECT_EQ(bridge.ReadID(), 0x811110B5u);
    EXPECT_EQ(bridge.ReadGPIOCTL(0), 0x55u);
    EXPECT_FALSE(bridge.SlowFpgaMode());
    bridge.Close();
    pci.Close();
}

// Searching every PLX function (as the Windows program does) also finds the
// card itself; a card function may well look like a bridge above its own
// bus, yet it is never taken.
TEST_F(CardFakeTest, TheCardsOwnFunctionIsNeverItsBridge) {
    Function card = Card(0x9056, 3, 0x335510B5);
    card.config[0x0B] = 6;
    card.config[0x18] = 3;
    card.config[0x19] = 3;
    fake().cards = {card};
    CVjxPci pci;
    ASSERT_EQ(pci.Count(), 1u);
    CPciBridge bridge;
    WD_PCI_SLOT slot = {3, 0x1001, 0x9056};
    EXPECT_EQ(bridge.Open(0x10B5, 0, &slot), 0);
    EXPECT_FALSE(bridge.IsOpen());

    Function real = Bridge(3, 3);
    real.registers[0x1020] = 0x77;
    fake().bridges = {real};
    ASSERT_EQ(bridge.Open(0x10B5, 0, &slot), 1);
    EXPECT_EQ(bridge.ReadGPIOCTL(0), 0x77u);
    bridge.Close();
}

TEST_F(CardFakeTest, GpioctlWritesOnlyChanges) {
    fake().cards = {Card(0x9056, 3, 0x335510B5)};
    Function b = Bridge(2, 3);
    b.registers[0x1020] = 0x3000;
    fake().bridges = {b};
    CVjxPci pci;
    pci.Count();
    ASSERT_EQ(pci.Open(0), 1);
    CPciBridge bridge;
    WD_PCI_SLOT slot = Slot(pci);
    ASSERT_EQ(bridge.Open(0x10B5, 0x8111, &slot), 1);
    fake().writes.clear();
    bridge.WriteGPIOCTL(0x3000);
    EXPECT_TRUE(fake().writes.empty());
    bridge.WriteGPIOCTL(0x3010);
    bridge.WriteGPIOCTL(0x3010);
    EXPECT_EQ(fake().writes, (std::vector<std::string>{"0 1020 32 3010"}));
    bridge.WriteEECTL(0x50000);
    EXPECT_EQ(fake().writes.back(), "0 1004 32 50000");
}

// A bridge without address space is reached through MAININDEX/MAINDATA in
// configuration space, which this driver cannot write: slow mode, and the
// engines must not write the bridge.
TEST_F(CardFakeTest, BridgeWithoutAddressSpaceIsSlowAndNotWritable) {
    fake().cards = {Card(0x9056, 3, 0x335510B5)};
    Function b = Bridge(2, 3, false);
    b.setConfig32(0x88, 0x12345678);
    fake().bridges = {b};
    CVjxPci pci;
    pci.Count();
    ASSERT_EQ(pci.Open(0), 1) << pci.getErrorString();
    EXPECT_TRUE(pci.SlowFpgaMode());
    EXPECT_FALSE(pci.BridgeWritable());
    EXPECT_NE(std::strstr(CVjxPci::kSlowModeRefused, "slow mode"), nullptr);

    CPciBridge bridge;
    WD_PCI_SLOT slot = Slot(pci);
    ASSERT_EQ(bridge.Open(0x10B5, 0x8111, &slot), 1);
    EXPECT_TRUE(bridge.SlowFpgaMode());
    fake().failing = {{Call::Read, 0}};  // no register read may be tried
    EXPECT_EQ(bridge.ReadEECTL(), 0x12345678u);
    EXPECT_EQ(bridge.ReadMAININDEX(), 0u);  // the index write was not carried out
    pci.Close();
}

TEST_F(CardFakeTest, PciCardsAreWritableWithoutBridge) {
    fake().cards = {Card(0x9030, 1, 0x306810B5)};
    CVjxPci pci;
    pci.Count();
    ASSERT_EQ(pci.Open(0), 1);
    EXPECT_FALSE(pci.SlowFpgaMode());
    EXPECT_TRUE(pci.BridgeWritable());
}

TEST_F(CardFakeTest, ReceiveIndexOutsideTheRingReadsZero) {
    fake().cards = {Card(0x9030, 1, 0x306810B5)};
    CVjxPci pci;
    pci.Count();
    ASSERT_EQ(pci.Open(0), 1);
    auto& rptr = fake().cards[0].registers[2u << 24 | 0x94];
    rptr = 0x3F;
    EXPECT_EQ(pci.ReadRPTR(), 0x3F);
    rptr = 0x40;
    EXPECT_EQ(pci.ReadRPTR(), 0);
    rptr = 0xFF;
    EXPECT_EQ(pci.ReadRPTR(), 0);
}

TEST_F(CardFakeTest, BridgeChipRegistersByBridgeType) {
    fake().cards = {Card(0x9050, 1, 0x222110B5), Card(0x9030, 2, 0x306810B5)};
    fake().cards[0].registers[0x50] = 0x11111111;
    fake().cards[1].registers[0x50] = 0x22222222;
    fake().cards[1].registers[0x54] = 0x33333333;
    CVjxPci pci;
    pci.Linti1Disable();  // nothing open: nothing written
    pci.Count();
    ASSERT_EQ(pci.Open(0), 1);  // PCI 9050: none of the chip registers
    EXPECT_EQ(pci.ReadCNTRL(), 0u);
    EXPECT_EQ(pci.ReadGPIOC(), 0u);
    pci.WriteCNTRL(1);
    pci.WriteINTCSR(1);
    pci.Linti1Disable();
    EXPECT_TRUE(fake().writes.empty());
    pci.WriteCFG(0x08);  // card registers work on every card
    EXPECT_EQ(fake().writes, (std::vector<std::string>{"2 44 8 8"}));

    ASSERT_EQ(pci.Open(1), 1);  // PCI 9030; the previous card is closed first
    EXPECT_EQ(fake().openHandles.size(), 1u);
    EXPECT_EQ(pci.ReadCNTRL(), 0x22222222u);
    EXPECT_EQ(pci.ReadGPIOC(), 0x33333333u);
    fake().writes.clear();
    pci.Linti1Disable();
    pci.Linti1Ack();
    EXPECT_EQ(fake().writes, (std::vector<std::string>{"0 4c 32 542", "0 4c 32 543"}));
}

TEST_F(CardFakeTest, Pci9056RegistersAndInterrupt) {
    fake().cards = {Card(0x9056, 3, 0x335510B5)};
    fake().cards[0].registers[0x6C] = 0x0100767E;
    fake().cards[0].registers[0x54] = 0x44;
    fake().bridges = {Bridge(2, 3)};
    CVjxPci pci;
    pci.Count();
    ASSERT_EQ(pci.Open(0), 1);
    EXPECT_EQ(pci.ReadCNTRL(), 0x0100767Eu);
    EXPECT_EQ(pci.ReadGPIOC(), 0u);
    fake().writes.clear();
    pci.WriteGPIOC(1);
    pci.Linti1Ack();
    pci.Linti1Disable();
    EXPECT_EQ(fake().writes, (std::vector<std::string>{"0 68 32 f010100"}));
}

TEST_F(CardFakeTest, ErrorTextLosesOneTrailingLineBreak) {
    CVjxPci pci;
    VJX_PCI_ERR("two\n\n");
    EXPECT_STREQ(pci.getErrorString(), "two\n");
    VJX_PCI_ERR("%s", "");
    EXPECT_STREQ(pci.getErrorString(), "");
}

// The driver opens once per process: a second card object reports why it
// could not start, and its end does not close the first object's driver.
TEST_F(CardFakeTest, SecondCardObjectFailsToStartAndLeavesTheDriverOpen) {
    fake().cards = {Card(0x9030, 1, 0x306810B5)};
    CVjxPci first;
    {
        CVjxPci second;
        EXPECT_EQ(second.GetLibInitResult(), 0x20000002u);
        EXPECT_STREQ(second.GetLibInitResultStr(),
                     "Failed to initialize the MERIX library. Error 0x20000002 - Operation already done\n");
    }
    EXPECT_EQ(first.Count(), 1u);
}

TEST_F(CardFakeTest, DestructorClosesAnOpenCard) {
    fake().cards = {Card(0x9056, 3, 0x335510B5)};
    fake().bridges = {Bridge(2, 3)};
    {
        CVjxPci pci;
        pci.Count();
        ASSERT_EQ(pci.Open(0), 1);
        EXPECT_EQ(fake().openHandles.size(), 2u);  // card and bridge
    }
    EXPECT_TRUE(fake().openHandles.empty());
}

}  // namespace
