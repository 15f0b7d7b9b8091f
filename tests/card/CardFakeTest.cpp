// The card object and the bridge over the fake access library: the library
// handles every path leaves behind, which the simulator does not count.
#include <gtest/gtest.h>

#include <cstring>

#include "Source/pci_lib.h"
#include "card/VjxPci.h"
#include "tests/driver/FakeMerix.h"

using namespace fakemerix;

namespace {

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
};

// One card open at a time: opening the next closes the one before, and the
// end of the object closes the last (a PCIe card's bridge with it). A PCIe
// card whose bridge leads elsewhere is closed again at once.
TEST_F(CardFakeTest, OpeningAnotherCardClosesTheFirstAndTheEndClosesTheLast) {
    fake().cards = {MakeCard(0x9050, 1, 0x222110B5), MakeCard(0x9030, 2, 0x306810B5),
                    MakeCard(0x9056, 4, 0x335510B5), MakeCard(0x9056, 6, 0x335510B5)};
    fake().bridges = {Bridge(3, 4), Bridge(5, 9)};  // none leads to bus 6
    {
        CVjxPci pci;
        ASSERT_EQ(pci.Count(), 4u);
        ASSERT_EQ(pci.Open(3), 0);
        EXPECT_TRUE(fake().openHandles.empty());
        ASSERT_EQ(pci.Open(0), 1);
        ASSERT_EQ(pci.Open(1), 1);
        EXPECT_EQ(fake().openHandles.size(), 1u);
        WD_PCI_SLOT slot = {};
        pci.GetPciSlot(&slot);
        EXPECT_EQ(slot.dwSlot, 0x1002u);
        EXPECT_EQ(pci.GetBridgeType(), 2u);
        ASSERT_EQ(pci.Open(2), 1);
        EXPECT_EQ(fake().openHandles.size(), 2u);  // card and bridge
    }
    EXPECT_TRUE(fake().openHandles.empty());
}

}  // namespace
