// The Windows driver adapter and the libraries above it over the simulated
// kernel driver: a missing or old driver, the driver's name, registration
// and the mapped card memory, I/O spaces through single transfers, the
// debug monitor, the status texts, and the dialog's question about a card of
// unknown type (the listing, the updates through the dialog and the
// bridge's slow mode are the Wine test's).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedFramework.h"
#include "Source/pci_lib.h"
#include "Source/vjx_pci6_lib.h"
#include "app/VJXFlashDlg.h"
#include "driver/wdc_lib.h"
#include "resource.h"
#include "sim/Card.h"
#include "sim/devices/Microcontroller.h"
#include "sim/kernel/InProcess.h"
#include "tcf/TcfWriter.h"
#include "tests/support/SimRack.h"
#include "tests/support/UpdateFiles.h"

namespace {

// A rack bound to the simulated kernel driver; the driver library is started
// as the card object starts it and stopped after the test.
class SimDriver : public ::testing::Test {
protected:
    void bind(std::vector<std::string> cards) {
        m_rack = std::make_unique<testsupport::SimRack>(std::move(cards));
        sim::kernel::bind(&m_rack->rack());
        ASSERT_EQ(VJX_PCI_LibInit(), 0u);
    }
    void TearDown() override {
        VJX_PCI_LibUninit();
        sim::kernel::bind(nullptr);
        m_rack.reset();
    }

    // The device record of the first function with this device ID.
    WDC_DEVICE_HANDLE open(DWORD device) {
        WDC_PCI_SCAN_RESULT scan;
        EXPECT_EQ(WDC_PciScanDevices(0x10B5, device, &scan), 0u);
        if (scan.dwNumDevices == 0) return nullptr;
        WD_PCI_CARD_INFO info = {};
        info.pciSlot = scan.deviceSlot[0];
        EXPECT_EQ(WDC_PciGetDeviceInfo(&info), 0u);
        WDC_DEVICE_HANDLE handle = nullptr;
        EXPECT_EQ(WDC_PciDeviceOpen(&handle, &info, nullptr), 0u) << WdcGetLastErrStr();
        return handle;
    }

    std::unique_ptr<testsupport::SimRack> m_rack;
};

// The Windows machine around the driver for one test (the simulated driver
// reads it when the program opens the driver).
struct Machine {
    explicit Machine(const char* settings) { setenv("VJXSIM_WINDOWS", settings, 1); }
    ~Machine() { unsetenv("VJXSIM_WINDOWS"); }
};

// Without a driver nothing is asked of it and the libraries say why; a
// driver older than 11.90 is refused by its version.
TEST_F(SimDriver, WithoutADriverOrWithAnOldOneTheProgramKnowsWhy) {
    EXPECT_EQ(VJX_PCI_LibInit(), 0x20000001u);
    EXPECT_STREQ(VJX_PCI6_GetLastErr(),
                 "Failed to initialize the WDC library. Error 0x20000001 - Invalid handle\n");
    EXPECT_EQ(VJX_PCI_CountCards(0x10B5, 0x9056), 0u);
    EXPECT_STREQ(VJX_PCI_ErrorString, "Failed opening device driver\n");
    EXPECT_EQ(WD_Version(WDC_GetWDHandle(), nullptr), 0xFFFFFFFFu);
    VJX_PCI_LibUninit();

    Machine old("driver=1189");
    bind({"84"});
    EXPECT_EQ(VJX_PCI_CountCards(0x10B5, 0x9056), 0u);
    EXPECT_STREQ(VJX_PCI_ErrorString, "Incorrect device driver version (11.89 < 11.90)\n");
}

// The name is the process's for its whole life, so this runs in a fresh
// process of its own. Without it the library opens the driver vendor's own
// device, which is not ours.
TEST_F(SimDriver, DevicePathFollowsTheDriverNameWhichCannotChangeOnceSet) {
    m_rack = std::make_unique<testsupport::SimRack>(std::vector<std::string>{"80"});
    sim::kernel::bind(&m_rack->rack());
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const bool defaultPath = WDC_DriverOpen(0) == 0x20000001u;
            const bool nameKept = WD_SetDriverName("merix6") == 0 && WD_SetDriverName("merix6") == 0 &&
                                  WD_SetDriverName("other") != 0;
            const bool opened = WDC_DriverOpen(0) == 0 && WdHandleValid(WDC_GetWDHandle());
            const bool onlyOnce = WDC_DriverOpen(0) == 0x20000011u;
            const bool closed = WDC_DriverClose() == 0 && !WdHandleValid(WDC_GetWDHandle());
            std::exit((defaultPath ? 0 : 1) | (nameKept ? 0 : 2) | (opened ? 0 : 4) | (onlyOnce ? 0 : 8) |
                      (closed ? 0 : 16));
        },
        ::testing::ExitedWithCode(0), "");
}

// The card's spaces as the driver reports and maps them are what every
// update here and under Wine goes through; this shows their bounds.
TEST_F(SimDriver, MemoryAndIoSpacesReachTheSameRegisters) {
    bind({"80"});
    WDC_DEVICE_HANDLE card = open(0x9030);
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(sim::kernel::registrations(), 1u);
    m_rack->clearTrace();
    // Plain local-configuration storage at 0x20: written through the I/O
    // space, read through memory, and the other way round, byte and dword.
    ASSERT_EQ(WDC_WriteAddr32(card, 1, 0x20, 0xA1B2C3D4), 0u);
    uint32_t word = 0;
    ASSERT_EQ(WDC_ReadAddr32(card, 0, 0x20, &word), 0u);
    EXPECT_EQ(word, 0xA1B2C3D4u);
    ASSERT_EQ(WDC_WriteAddr8(card, 0, 0x21, 0x5E), 0u);
    uint8_t byte = 0;
    ASSERT_EQ(WDC_ReadAddr8(card, 1, 0x21, &byte), 0u);
    EXPECT_EQ(byte, 0x5E);
    ASSERT_EQ(WDC_ReadAddr32(card, 1, 0x20, &word), 0u);
    EXPECT_EQ(word, 0xA1B25ED4u);
    EXPECT_EQ(m_rack->traceLines().size(), 5u) << "one bus access per call";

    // The last register of each space is reached; past the end of a space
    // the access is refused here and nothing reaches the bus.
    EXPECT_EQ(WDC_ReadAddr32(card, 1, 0x7C, &word), 0u);
    EXPECT_EQ(WDC_ReadAddr8(card, 0, 0x7F, &byte), 0u);
    EXPECT_EQ(WDC_ReadAddr32(card, 1, 0x7D, &word), 0x2000001Bu);
    EXPECT_EQ(WDC_WriteAddr8(card, 0, 0x80, 0), 0x2000001Bu);
    EXPECT_EQ(WDC_ReadAddr8(card, 3, 0, &byte), 0x2000001Bu);
    EXPECT_EQ(m_rack->traceLines().size(), 7u);

    // A memory space registered but not mapped is refused before any load.
    const UINT64 mapped = card->pAddrDesc[0].pUserDirectMemAddr;
    card->pAddrDesc[0].pUserDirectMemAddr = 0;
    EXPECT_EQ(WDC_WriteAddr32(card, 0, 0, 1), 0x20000017u);
    card->pAddrDesc[0].pUserDirectMemAddr = mapped;

    // Interrupts are never enabled; disabling one that is not asks nothing.
    EXPECT_EQ(WDC_IntEnable(card, nullptr, nullptr), 0x2000000Au);
    EXPECT_FALSE(WDC_IntIsEnabled(card));
    EXPECT_EQ(WDC_IntDisable(card), 0x2000000Du);

    // Unregistered behind the record's back: the driver fails the I/O
    // transfer, which is the caller's failure, the value all ones. The
    // driver refuses a second unregistration, and the handle is kept then.
    WD_CARD_REGISTER copy = card->cardReg;
    ASSERT_EQ(WD_CardUnregister(WDC_GetWDHandle(), &copy), 0u);
    EXPECT_EQ(copy.hCard, 0u);
    copy.hCard = card->cardReg.hCard;
    EXPECT_EQ(WD_CardUnregister(WDC_GetWDHandle(), &copy), 0x20000001u);
    EXPECT_EQ(copy.hCard, card->cardReg.hCard);
    EXPECT_EQ(WDC_ReadAddr32(card, 1, 0x20, &word), 0x2000001Bu);
    EXPECT_EQ(word, 0xFFFFFFFFu);
    EXPECT_EQ(WDC_ReadAddr8(card, 1, 0x20, &byte), 0x2000001Bu);
    EXPECT_EQ(byte, 0xFF);
    EXPECT_EQ(WDC_WriteAddr32(card, 1, 0x20, 0), 0x2000001Bu);
    EXPECT_EQ(WDC_PciDeviceClose(card), 0x20000001u);
    EXPECT_EQ(sim::kernel::registrations(), 0u);
}

// A device the driver refuses to register: the device level's reason goes
// to the driver's debug monitor (error level), cut to 255 characters.
TEST_F(SimDriver, ErrorMessagesReachTheDriversDebugMonitor) {
    bind({"80,open=fail"});
    WD_PCI_CARD_INFO info;
    WDC_PCI_SCAN_RESULT scan;
    ASSERT_EQ(WDC_PciScanDevices(0x10B5, 0x9030, &scan), 0u);
    std::memset(&info, 0, sizeof info);
    info.pciSlot = scan.deviceSlot[0];
    ASSERT_EQ(WDC_PciGetDeviceInfo(&info), 0u);
    WDC_DEVICE_HANDLE handle = nullptr;
    EXPECT_NE(WDC_PciDeviceOpen(&handle, &info, nullptr), 0u);
    EXPECT_EQ(WDC_PciDeviceClose(nullptr), 0x2000001Bu);
    const std::string longText(400, 'y');
    WDC_Err("%s", longText.c_str());
    const std::vector<sim::kernel::DebugMessage> messages = sim::kernel::debugMessages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].level, 1u);
    EXPECT_EQ(messages[0].text,
              "WDC_PciDeviceOpen: Error Failed registering the device. Error [0x20000000 - Error]\n");
    EXPECT_EQ(messages[1].text, "WDC_PciDeviceClose: Error Error - Invalid device handle\n");
    EXPECT_EQ(messages[2].text, std::string(255, 'y'));

    // An output without a level is refused; without any, nothing is sent.
    EXPECT_EQ(WDC_SetDebugOptions(WDC_DBG_OUT_DBM), 0x2000001Bu);
    EXPECT_STREQ(
        WdcGetLastErrStr(),
        "WDC_SetDebugOptions: Error - You must set either the WDC_DBG_LEVEL_TRACE, WDC_DBG_LEVEL_ERR, "
        "WDC_DBG_DEFAULT or WDC_DBG_NONE debug option.\n");
    ASSERT_EQ(WDC_SetDebugOptions(WDC_DBG_NONE), 0u);
    WDC_Err("quiet %d", 1);
    EXPECT_EQ(sim::kernel::debugMessages().size(), 3u);
}

TEST(WindowsStatusTexts, DriverTableAndUnknownCodes) {
    const std::pair<DWORD, const char*> texts[] = {{0, "Success"},
                                                   {0xFFFFFFFF, "Invalid WinDriver handle"},
                                                   {0x20000000, "Error"},
                                                   {0x2000000A, "Function not implemented"},
                                                   {0x20000011, "Operation already done"},
                                                   {0x2000001B, "Invalid parameter"},
                                                   {0x20000023, "Driver not installed"},
                                                   {0x20000009, "Unrecognized error code"},
                                                   {0x20000024, "Unrecognized error code"}};
    for (const auto& [code, text] : texts) EXPECT_STREQ(Stat2Str(code), text) << std::hex << code;
}

// ---- The dialog updating simulated cards --------------------------------------

class TestDialog : public CVJXFlashDlg {
public:
    using CVJXFlashDlg::OnCommand;
};

// Whether the card's microcontroller flash holds the firmware of the file.
std::string FirmwareOf(sim::Card& card) {
    sim::firmware_image::Version version;
    if (!sim::firmware_image::find(card.mcuFlashBytes().data(), card.mcuFlashBytes().size(), &version))
        return "";
    return sim::firmware_image::textFromVersion(version);
}

// A listed card that comes up without its identity before "Flash!" (its
// configuration EEPROM did not answer at the power-up): the program asks
// whether the card is of the file's model. No or Cancel leave the card as it
// was, with nothing of the question in the log; Yes programs it as that
// model. The card is released either way.
class SimDialogUnknown : public SimDriver, public ::testing::WithParamInterface<int> {};

TEST_P(SimDialogUnknown, OnlyYesProgramsTheCardAsTheFilesModel) {
    m_rack = std::make_unique<testsupport::SimRack>(std::vector<std::string>{"80", "84"});
    m_rack->setTracing(false);
    sim::kernel::bind(&m_rack->rack());
    scripted::reset();
    TestDialog dialog;
    scripted::open(dialog);
    HWND__& list = scripted::control(dialog, IDC_CARDLIST);
    ASSERT_EQ(list.items, (std::vector<std::string>{"1: VJX PCI S", "2: VJX PCIe K"}));
    sim::Rack& rack = m_rack->rack();
    std::string error;
    ASSERT_TRUE(rack.setOptions(2, {"eeprom-fault=absent"}, &error)) << error;
    ASSERT_TRUE(rack.powerCycle(2, &error)) << error;
    ASSERT_TRUE(rack.setOptions(2, {"eeprom-fault=default"}, &error)) << error;
    const std::vector<uint8_t> epcs(rack.card(2).epcsBytes().data(),
                                    rack.card(2).epcsBytes().data() + rack.card(2).epcsBytes().size());

    // FPGA image version 7, firmware 2.01, the model's EEPROM presets.
    testsupport::UpdateFile file(testsupport::Build(tcf::FileContent{
        0x54, testsupport::FpgaImage(7, 20000), {}, {}, testsupport::Firmware("2.01", 7, 0x10000)}));
    scripted::state().answers = {GetParam()};
    const std::string& log = scripted::control(dialog, IDC_LOG).text;
    const size_t before = log.size();
    list.sel = 1;
    scripted::control(dialog, IDC_FILENAME).text = file.path();
    dialog.OnCommand(IDC_FLASH, 0);
    const std::string added = log.substr(before);
    const std::vector<scripted::Box>& boxes = scripted::state().boxes;
    ASSERT_FALSE(boxes.empty()) << added;
    EXPECT_EQ(boxes[0].text,
              "The card's type is unknown.  Be sure to load\na compatible flash update file to the card!\n\n"
              "Is \"2: VJX PCIe K\" a \"VJX PCIe K\" card?");
    EXPECT_EQ(boxes[0].type, 0x23u);
    EXPECT_TRUE(boxes[0].ofWindow);
    EXPECT_EQ(boxes[0].caption, "VJXFlash");
    EXPECT_EQ(scripted::state().beeps, std::vector<unsigned>{0x20});
    EXPECT_EQ(sim::kernel::registrations(), 0u) << "the card released";
    const bool written = !std::equal(epcs.begin(), epcs.end(), rack.card(2).epcsBytes().data());
    if (GetParam() == IDYES) {
        EXPECT_EQ(boxes.back().text,
                  "Programming VJX PCIe K card was successful.\n\nFirmware version: 2.01\n");
        EXPECT_TRUE(written);
        EXPECT_EQ(FirmwareOf(rack.card(2)), "2.01");
    } else {
        EXPECT_EQ(boxes.size(), 1u);
        EXPECT_EQ(added, "\r\nDetecting card 2...");
        EXPECT_FALSE(written);
        EXPECT_EQ(FirmwareOf(rack.card(2)), "1.00");
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, SimDialogUnknown, ::testing::Values(IDYES, IDNO, IDCANCEL));

}  // namespace
