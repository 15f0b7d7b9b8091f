// Driver tests over the fake access library: the driver is opened for each
// test and every library handle must be closed again when it ends.
#pragma once

#include <gtest/gtest.h>

#include "FakeMerix.h"
#include "Source/pci_lib.h"

namespace fakemerix {

inline Function MakeFunction(uint16_t deviceId, uint8_t bus) {
    Function f;
    f.deviceId = deviceId;
    f.bus = bus;
    f.setConfig32(0x00, uint32_t(deviceId) << 16 | 0x10B5);
    f.setBar(0, 0xFE800000);
    f.setBar(2, 0xFE900000);
    f.space0Length = 0x80;
    f.space2Length = 0x100;
    return f;
}

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

}  // namespace fakemerix
