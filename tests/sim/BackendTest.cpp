// The access library's interface over a bound rack: configuration and
// register access and their failures, handles. (Cards and bridges numbered
// in bus order: the card object's tests over racks of every card kind; the
// flash flag held by one process against another: the end-to-end rack
// tests.)
#include <gtest/gtest.h>

#include <string>

#include "libmerix32/merix32.h"
#include "tests/support/SimRack.h"

namespace simtest {
namespace {

struct Opened {
    int handle = -1;
    int status = -1;
    Opened(unsigned number, bool bridge) {
        status = bridge ? vjxOpenBridge(&handle, number) : vjxOpen(&handle, number);
    }
    ~Opened() {
        if (status == 0) vjxClose(handle);
    }
};

TEST(Backend, RegistersAndConfigurationThroughHandles) {
    testsupport::SimRack sr({"80,fpga=4"});
    Opened card(0x1001, false);
    ASSERT_EQ(card.status, 0);
    uint8_t version = 0;
    ASSERT_EQ(vjxReadOffset8(card.handle, 2, 0x7C, &version), 0);
    EXPECT_EQ(version, 4);
    ASSERT_EQ(vjxWriteOffset32(card.handle, 0, 0x4C, 0x542), 0);
    uint32_t intcsr = 0;
    ASSERT_EQ(vjxReadOffset32(card.handle, 0, 0x4C, &intcsr), 0);
    EXPECT_EQ(intcsr, 0x542u);
    uint32_t key = 0;
    ASSERT_EQ(vjxConfigDump(card.handle, 0x2C, 4, &key), 0);
    EXPECT_EQ(key, 0x306810B5u);

    EXPECT_NE(vjxReadOffset32(card.handle, 0, 0x80, &intcsr), 0);
    EXPECT_NE(std::string(vjxGetErrorString()).find("offset 0x80"), std::string::npos) << vjxGetErrorString();
    EXPECT_NE(vjxReadOffset32(card.handle, 0, 0x51, &intcsr), 0) << "misaligned";
    EXPECT_NE(vjxReadOffset8(card.handle, 4, 0, &version), 0);
    EXPECT_NE(vjxConfigDump(card.handle, 0xFE, 4, &key), 0);
    EXPECT_NE(vjxReadOffset8(card.handle + 7, 2, 0x7C, &version), 0);
    EXPECT_NE(std::string(vjxGetErrorString()).find("Invalid handle"), std::string::npos);
}

TEST(Backend, ClosedHandlesAreInvalidAndUnboundLibraryFailsCleanly) {
    {
        testsupport::SimRack sr({"80"});
        int h = -1;
        ASSERT_EQ(vjxOpen(&h, 0x1001), 0);
        EXPECT_EQ(vjxClose(h), 0);
        EXPECT_NE(vjxClose(h), 0);
        uint16_t id;
        EXPECT_NE(vjxGetDeviceId(h, &id), 0);
    }
    // No rack bound and none in the environment.
    int h = -1;
    EXPECT_NE(vjxOpen(&h, 0x1001), 0);
    EXPECT_NE(std::string(vjxGetErrorString()).find("VJXSIM_RACK"), std::string::npos) << vjxGetErrorString();
}

}  // namespace
}  // namespace simtest
