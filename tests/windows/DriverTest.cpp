// The Windows driver adapter over a scripted kernel driver: the device path
// and the driver name, opening the driver, the requests and their status,
// the debug output and the status texts, and what the libraries above make
// of a missing driver.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "ScriptedKernel.h"
#include "Source/pci_lib.h"
#include "Source/vjx_pci6_lib.h"
#include "driver/wdc_lib.h"

namespace {

// The driver is closed after each test; the kernel driver's state is reset
// before.
class WindowsDriver : public ::testing::Test {
protected:
    void SetUp() override { kernel::state() = kernel::State{}; }
    void TearDown() override { WDC_DriverClose(); }
};

TEST_F(WindowsDriver, WithoutADriverTheProgramKnowsWhy) {
    EXPECT_EQ(VJX_PCI_LibInit(), 0x20000001u);
    EXPECT_EQ(kernel::state().devicePath, "\\\\.\\merix6");
    EXPECT_STREQ(VJX_PCI6_GetLastErr(),
                 "Failed to initialize the WDC library. Error 0x20000001 - Invalid handle\n");
    EXPECT_EQ(VJX_PCI_CountCards(0x10B5, 0x9056), 0u);
    EXPECT_STREQ(VJX_PCI_ErrorString, "Failed opening device driver\n");
    EXPECT_EQ(WD_Version(WDC_GetWDHandle(), nullptr), 0xFFFFFFFFu);  // nothing sent without a driver
    EXPECT_TRUE(kernel::state().requests.empty());
}

// The name is the process's for its whole life, so this runs in a fresh
// process of its own.
TEST_F(WindowsDriver, DevicePathFollowsTheDriverNameWhichCannotChangeOnceSet) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const bool defaultPath =
                WDC_DriverOpen(0) == 0x20000001u && kernel::state().devicePath == "\\\\.\\windrvr1230";
            const bool nameKept = WD_SetDriverName("merix6") == 0 && WD_SetDriverName("merix6") == 0 &&
                                  WD_SetDriverName("other") != 0;
            kernel::state().present = true;
            const bool opened = WDC_DriverOpen(0) == 0 && kernel::state().devicePath == "\\\\.\\merix6";
            const bool onlyOnce = WDC_DriverOpen(0) == 0x20000011u && kernel::state().opens == 2;
            const bool closed =
                WDC_DriverClose() == 0 && kernel::state().closes == 1 && !WdHandleValid(WDC_GetWDHandle());
            std::exit((defaultPath ? 0 : 1) | (nameKept ? 0 : 2) | (opened ? 0 : 4) | (onlyOnce ? 0 : 8) |
                      (closed ? 0 : 16));
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(WindowsDriver, RequestsCarryTheirCodeAndSizeAndThePresetStatus) {
    kernel::state().present = true;
    kernel::state().cards = 3;
    ASSERT_EQ(VJX_PCI_LibInit(), 0u);
    // The codes, sizes and fields of the records are the simulated driver's
    // to check (sim_kernel_tests); here what its answers become.
    EXPECT_EQ(VJX_PCI_CountCards(0x10B5, 0x9030), 3u);
    ASSERT_EQ(kernel::state().requests.size(), 2u);

    // No record: nothing is sent.
    const size_t sent = kernel::state().requests.size();
    EXPECT_EQ(WD_PciGetCardInfo(WDC_GetWDHandle(), nullptr), 0x2000001Bu);
    EXPECT_EQ(kernel::state().requests.size(), sent);

    // A request the driver leaves unanswered keeps the preset failure.
    WD_PCI_CONFIG_DUMP dump = {};
    EXPECT_EQ(WD_PciConfigDump(WDC_GetWDHandle(), &dump), 0x20000000u);
    EXPECT_EQ(kernel::state().requests.back().code, 0x9538346Bu);
    EXPECT_EQ(kernel::state().requests.back().size, 40u);
}

TEST_F(WindowsDriver, DriverBelowVersion1190IsRefused) {
    kernel::state().present = true;
    kernel::state().version = 1189;
    ASSERT_EQ(VJX_PCI_LibInit(), 0u);
    EXPECT_EQ(VJX_PCI_CountCards(0x10B5, 0x9056), 0u);
    EXPECT_STREQ(VJX_PCI_ErrorString, "Incorrect device driver version (11.89 < 11.90)\n");
}

TEST_F(WindowsDriver, ErrorMessagesGoToTheDebugMonitorWhenALevelIsOn) {
    kernel::state().present = true;
    ASSERT_EQ(WDC_DriverOpen(0), 0u);
    EXPECT_EQ(WDC_SetDebugOptions(WDC_DBG_OUT_DBM), 0x2000001Bu);
    EXPECT_STREQ(
        WdcGetLastErrStr(),
        "WDC_SetDebugOptions: Error - You must set either the WDC_DBG_LEVEL_TRACE, WDC_DBG_LEVEL_ERR, "
        "WDC_DBG_DEFAULT or WDC_DBG_NONE debug option.\n");
    ASSERT_EQ(WDC_SetDebugOptions(WDC_DBG_NONE), 0u);
    WDC_Err("quiet %d", 1);
    EXPECT_TRUE(kernel::state().requests.empty());

    ASSERT_EQ(WDC_SetDebugOptions(WDC_DBG_LEVEL_TRACE | WDC_DBG_OUT_DBM), 0u);
    WDC_Err("WDC_PciDeviceOpen: Error %s", "x");
    ASSERT_EQ(kernel::state().requests.size(), 1u);
    const kernel::Request& message = kernel::state().requests[0];
    EXPECT_EQ(message.code, 0x95383593u);
    ASSERT_EQ(message.size, 264u);
    EXPECT_STREQ(reinterpret_cast<const char*>(message.record.data()), "WDC_PciDeviceOpen: Error x");
    uint32_t levelAndSection[2];
    std::memcpy(levelAndSection, message.record.data() + 256, sizeof levelAndSection);
    EXPECT_EQ(levelAndSection[0], 1u);
    EXPECT_EQ(levelAndSection[1], 0xFFFFFFFFu);
}

// A device record with a memory space 0 mapped at the scripted base and an
// I/O space 1 at port 0xE000, as registration leaves it.
struct TwoSpaceDevice {
    WDC_ADDR_SPACE spaces[2] = {};
    WDC_DEVICE device = {};
    TwoSpaceDevice() {
        spaces[0] = {0, 1, 0, 0, 0x100, 0xFE800000, kernel::kMappedBase};
        spaces[1] = {1, 0, 1, 0, 0x80, 0xE000, 0};
        device.dwNumAddrSpaces = 2;
        device.pAddrDesc = spaces;
    }
};

uint32_t U32At(const std::vector<unsigned char>& record, size_t offset) {
    uint32_t value;
    std::memcpy(&value, record.data() + offset, 4);
    return value;
}

// What the simulated driver cannot show: the transfer record's fields, a
// driver that fails the transfer, a memory space left unmapped.
TEST_F(WindowsDriver, IoSpacesGoThroughSingleTransfersWhoseFailureIsTheCallers) {
    kernel::state().present = true;
    ASSERT_EQ(WDC_DriverOpen(0), 0u);
    TwoSpaceDevice card;
    card.spaces[0].pUserDirectMemAddr = 0;
    EXPECT_EQ(WDC_WriteAddr32(&card.device, 0, 0, 1), 0x20000017u);  // registered but not mapped
    EXPECT_TRUE(kernel::state().accesses.empty());

    // I/O: one single transfer per access, port = space address + offset,
    // the data through a pointer; the driver's failure is the caller's.
    const struct {
        bool write;
        unsigned width;
        uint32_t command;
    } io[] = {{false, 1, 20}, {false, 4, 22}, {true, 1, 23}, {true, 4, 25}};
    kernel::state().scriptedCode = 0x95383633;
    kernel::state().scriptedStatus = 0x20000015;
    for (const auto& c : io) {
        kernel::state().requests.clear();
        uint32_t value = 0;
        DWORD status;
        if (c.write)
            status = c.width == 1 ? WDC_WriteAddr8(&card.device, 1, 0x7C, 0xA5)
                                  : WDC_WriteAddr32(&card.device, 1, 0x7C, 0xA5A5A5A5);
        else if (c.width == 1) {
            uint8_t b = 0;
            status = WDC_ReadAddr8(&card.device, 1, 0x7C, &b);
            value = b;
        } else
            status = WDC_ReadAddr32(&card.device, 1, 0x7C, &value);
        EXPECT_EQ(status, 0x20000015u) << c.command;
        if (!c.write) {
            EXPECT_EQ(value, c.width == 1 ? 0xFFu : 0xFFFFFFFFu) << c.command;
        }
        ASSERT_EQ(kernel::state().requests.size(), 1u) << c.command;
        const kernel::Request& r = kernel::state().requests[0];
        EXPECT_EQ(r.size, 32u);
        uint64_t port;
        std::memcpy(&port, r.record.data(), 8);
        EXPECT_EQ(port, 0xE07Cu);
        EXPECT_EQ(U32At(r.record, 8), c.command);
        EXPECT_EQ(U32At(r.record, 12), c.width);
        EXPECT_EQ(U32At(r.record, 16), 1u) << "auto-increment";
        EXPECT_NE(U32At(r.record, 24) | U32At(r.record, 28), 0u) << "data pointer";
    }
    card.device.pAddrDesc = nullptr;
}

TEST_F(WindowsDriver, InterruptsAreNeverEnabledAndDisablingOneIsOneRequest) {
    kernel::state().present = true;
    ASSERT_EQ(WDC_DriverOpen(0), 0u);
    TwoSpaceDevice card;
    EXPECT_EQ(WDC_IntEnable(&card.device, nullptr, nullptr), 0x2000000Au);
    EXPECT_FALSE(WDC_IntIsEnabled(&card.device));
    EXPECT_EQ(WDC_IntDisable(&card.device), 0x2000000Du);
    EXPECT_TRUE(kernel::state().requests.empty());

    card.device.Int.fEnabled = 1;
    card.device.Int.hInterrupt = 0x77;
    kernel::state().scriptedCode = 0x953836EF;
    kernel::state().scriptedStatus = 0;
    EXPECT_EQ(WDC_IntDisable(&card.device), 0u);
    EXPECT_FALSE(WDC_IntIsEnabled(&card.device));
    ASSERT_EQ(kernel::state().requests.size(), 1u);
    EXPECT_EQ(kernel::state().requests[0].size, 72u);
    EXPECT_EQ(U32At(kernel::state().requests[0].record, 0), 0x77u);
    card.device.pAddrDesc = nullptr;
}

TEST_F(WindowsDriver, UnregisteringForgetsTheCardHandleOnlyWhenTheDriverAgrees) {
    kernel::state().present = true;
    ASSERT_EQ(WDC_DriverOpen(0), 0u);
    WD_CARD_REGISTER card = {};
    card.hCard = 9;
    kernel::state().scriptedCode = 0x9538379F;
    kernel::state().scriptedStatus = 0x20000001;
    EXPECT_EQ(WD_CardUnregister(WDC_GetWDHandle(), &card), 0x20000001u);
    EXPECT_EQ(card.hCard, 9u);
    kernel::state().scriptedStatus = 0;
    EXPECT_EQ(WD_CardUnregister(WDC_GetWDHandle(), &card), 0u);
    EXPECT_EQ(card.hCard, 0u);
    EXPECT_EQ(kernel::state().requests.back().size, 1272u);
    EXPECT_EQ(U32At(kernel::state().requests.back().record, 1132), 9u);
}

TEST(WindowsStatusTexts, DriverTableAndUnknownCodes) {
    EXPECT_STREQ(Stat2Str(0), "Success");
    EXPECT_STREQ(Stat2Str(0xFFFFFFFF), "Invalid WinDriver handle");
    EXPECT_STREQ(Stat2Str(0x20000000), "Error");
    EXPECT_STREQ(Stat2Str(0x2000000A), "Function not implemented");
    EXPECT_STREQ(Stat2Str(0x20000011), "Operation already done");
    EXPECT_STREQ(Stat2Str(0x2000001B), "Invalid parameter");
    EXPECT_STREQ(Stat2Str(0x20000023), "Driver not installed");
    EXPECT_STREQ(Stat2Str(0x20000009), "Unrecognized error code");
    EXPECT_STREQ(Stat2Str(0x20000024), "Unrecognized error code");
}

}  // namespace
