// The card object on simulated hardware: cards identified from what their
// configuration EEPROMs load, the bridge found above PCIe cards, and the bus
// trace showing which register each accessor reaches.
#include <gtest/gtest.h>

#include "BusTrace.h"
#include "card/VjxPci.h"

namespace {

using bustrace::Accesses;
using Lines = std::vector<std::string>;

constexpr int kUnknown = 16;

WD_PCI_SLOT SlotOf(CVjxPci& pci) {
    WD_PCI_SLOT slot = {};
    pci.GetPciSlot(&slot);
    return slot;
}

TEST(CardSim, CountsAndIdentifiesInChipOrder) {
    testsupport::SimRack rack({"84", "80", "blank-9056", "88"});
    CVjxPci pci;
    ASSERT_EQ(pci.GetLibInitResult(), 0u);
    ASSERT_EQ(pci.Count(), 4u) << pci.getErrorString();

    struct Expect {
        uint32_t bridgeType;
        int model;
        const char* description;
        bool update;
    };
    const Expect expected[] = {{1, 0, "VJX PCI M (5V)", false},  // the PCI 9050 card (88)
                               {2, 6, "VJX PCI S", true},        // the PCI 9030 card (80)
                               {3, 11, "VJX PCIe K", true},      // then the PCI 9056 cards in bus order
                               {3, kUnknown, "Unprogrammed PCIe card", false}};
    for (unsigned i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(pci.Open(i), 1) << pci.getErrorString();
        EXPECT_EQ(pci.GetBridgeType(), expected[i].bridgeType);
        EXPECT_EQ(pci.GetModel(), expected[i].model);
        EXPECT_STREQ(pci.GetModelDesc(), expected[i].description);
        EXPECT_EQ(pci.HasFlashUpdate(), expected[i].update);
        EXPECT_FALSE(pci.SlowFpgaMode());
        EXPECT_TRUE(pci.BridgeWritable());
        // The blank card's unconfigured FPGA reads 0xFF: an index outside the ring, 0.
        EXPECT_EQ(pci.ReadRPTR(), 0);
        pci.Close();
    }
    EXPECT_EQ(pci.Open(4), 0);
    EXPECT_EQ(pci.GetBridgeType(), 0u);
}

// Subsystem keys as the bridges load them, with the texts the list prints
// for keys of no model.
TEST(CardSim, ModelsBySubsystemKey) {
    testsupport::SimRack rack({});
    CVjxPci pci;
    const struct {
        uint32_t key;
        int model;
        const char* text;
    } keys[] = {{0x335410B5, 10, "VJX PCIe M"},
                {0x905610B5, kUnknown, "Unprogrammed PCIe card"},
                {0, kUnknown, "Unprogrammed card"},
                {0x12345678, kUnknown, "(Unknown)"},
                {0x359110B5, 15, nullptr}};
    for (const auto& k : keys) {
        SCOPED_TRACE(k.key);
        const char* text = nullptr;
        EXPECT_EQ(pci.GetModel(static_cast<int>(k.key), 0x80, k.text ? &text : nullptr), k.model);
        if (k.text) {
            EXPECT_STREQ(text, k.text);
        }
    }
}

// Two PCIe cards, two PEX 8111s: the second card's registers go through the
// second bridge only.
TEST(CardSim, OnlyTheBridgeAboveTheCardIsUsed) {
    testsupport::SimRack rack({"84", "85"});
    CVjxPci pci;
    ASSERT_EQ(pci.Count(), 2u);
    rack.clearTrace();
    ASSERT_EQ(pci.Open(1), 1) << pci.getErrorString();
    EXPECT_EQ(pci.GetModel(), 12);
    int registerAccesses = 0;
    for (const auto& a : Accesses(rack)) {
        if (a.op == "r" || a.op == "w") {
            EXPECT_NE(a.function, "bridge1") << a.line;
            ++registerAccesses;
        }
        EXPECT_NE(a.op, "cw") << a.line;
    }
    EXPECT_GT(registerAccesses, 0);  // GPIOCTL read through bridge2's memory space
}

// Searching every PLX function (as the Windows program does) finds the card
// too; its own function is passed over without even a look at its class.
TEST(CardSim, CardsOwnFunctionIsNeverTakenAsBridge) {
    testsupport::SimRack rack({"84", "84"});
    CVjxPci pci;
    ASSERT_EQ(pci.Count(), 2u);
    ASSERT_EQ(pci.Open(1), 1);
    WD_PCI_SLOT slot = SlotOf(pci);
    rack.clearTrace();
    CPciBridge bridge;
    ASSERT_EQ(bridge.Open(0x10B5, 0, &slot), 1);
    for (const auto& a : Accesses(rack)) {
        const bool classOrBus = a.offset == 0x0B || a.offset == 0x18 || a.offset == 0x19;
        EXPECT_FALSE(a.function == "card2" && classOrBus) << a.line;
        EXPECT_FALSE(a.op == "r" && a.function != "bridge2") << a.line;
    }
}

// Without its memory space the bridge's registers are reached through
// MAININDEX (0x84) and MAINDATA (0x88) in configuration space. This driver
// has no configuration write, so the card lists in slow mode but must not be
// written.
TEST(CardSim, SlowBridgeIsReachedThroughConfigurationSpace) {
    testsupport::SimRack rack({"84,slow"});
    CVjxPci pci;
    ASSERT_EQ(pci.Count(), 1u);
    ASSERT_EQ(pci.Open(0), 1) << pci.getErrorString();
    EXPECT_TRUE(pci.SlowFpgaMode());
    EXPECT_FALSE(pci.BridgeWritable());

    WD_PCI_SLOT slot = SlotOf(pci);
    CPciBridge bridge;
    ASSERT_EQ(bridge.Open(0x10B5, 0x8111, &slot), 1);
    EXPECT_TRUE(bridge.SlowFpgaMode());
    rack.clearTrace();
    bridge.ReadEECTL();
    ASSERT_FALSE(Accesses(rack).empty());
    for (const auto& a : Accesses(rack)) {
        EXPECT_EQ(a.function, "bridge1") << a.line;
        EXPECT_EQ(a.op, "cr") << a.line;  // never a register access, never a configuration write
    }
}

}  // namespace
