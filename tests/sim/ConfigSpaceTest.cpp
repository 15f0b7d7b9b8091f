// The cards' configuration space as the bus shows it, the identity the PLX
// chip loads from its EEPROM at power-up, and the PEX 8111's own load from
// its EEPROM. (The bridges' bus numbers: the card object's and the access
// library's tests over the rack, and `vjxsim run`'s; a fault that shows only
// at the next power-up: `vjxsim set` and `power-cycle`.)
#include <gtest/gtest.h>

#include <fstream>

#include "SimBus.h"
#include "sim/CardModels.h"
#include "sim/CardReport.h"
#include "sim/Clock.h"
#include "tests/support/SimRack.h"

namespace simtest {
namespace {

// (The BARs: the host's PCI library over the rack.)
TEST(ConfigSpace, CardFunctionsCarryChipIdentityAndTheKeyFromTheirEeprom) {
    struct Case {
        const char* spec;
        uint32_t id;
        uint32_t key;
        uint8_t revision;
        uint32_t classCode;
    };
    const Case cases[] = {
        {"80", 0x903010B5, 0x306810B5, 0x01, 0x048000},  // PCI 9030 preset: value 3
        {"84", 0x905610B5, 0x335510B5, 0xBA, 0x048000},  // PCI 9056 preset: value 17
        {"88", 0x905010B5, 0x222110B5, 0x01, 0x048000},  // 5V card: PCI 9050, key at the 9030 place
        {"blank-9030", 0x903010B5, 0x903010B5, 0x01, 0x068000},
        {"blank-9050", 0x905010B5, 0x905010B5, 0x01, 0x068000},
        {"blank-9056", 0x905610B5, 0x905610B5, 0xBA, 0x068000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spec);
        testsupport::SimRack sr({c.spec});
        Bus bus(sr.rack(), 1);
        EXPECT_EQ(bus.config32(0x00), c.id);
        EXPECT_EQ(bus.config32(0x2C), c.key);
        uint32_t classRev = bus.config32(0x08);
        EXPECT_EQ(classRev & 0xFF, c.revision);
        EXPECT_EQ(classRev >> 8, c.classCode);
    }
}

// What the PEX 8111 makes of the bytes in its EEPROM when it comes out of
// reset: the signature first, then as many register loads as the count
// says, from whatever bytes stand there. An image with the update file's own
// header in it leaves the bridge at its defaults; one cut short loads the
// erased bytes behind it as register values.
TEST(ConfigSpace, TheBridgeLoadsItsEepromAtPowerUpAsTheDataSay) {
    const std::vector<uint8_t> preset32 = {0x5A, 0x03, 0x18, 0x00, 0x34, 0x00, 0x50, 0x00, 0x00, 0x00, 0x48,
                                           0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x10, 0x33, 0x00, 0x00, 0x00,
                                           0x20, 0x10, 0x80, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};
    std::vector<uint8_t> fileHeader(32, 0);
    const char intro[] = "VJX Flash Update File\x1A";
    std::copy(intro, intro + sizeof intro - 1, fileHeader.begin());
    const struct Case {
        const char* what;
        std::vector<uint8_t> image;  // written over an erased EEPROM
        bool loaded;
        unsigned loads;
        uint32_t gpioctl;
        uint8_t capabilities;  // configuration offset 0x34
        const char* shown;
    } cases[] = {
        {"the 32-byte image", preset32, true, 4, 0x80, 0x50, "EEPROM loaded: 4 register loads, 2 bytes"},
        {"the update file's header", fileHeader, false, 0, 0, 0x40,
         "EEPROM not loaded (first byte 0x56, not the signature 0x5A): registers at their defaults"},
        {"the 32-byte image cut to 25 bytes", std::vector<uint8_t>(preset32.begin(), preset32.begin() + 25),
         true, 4, 0xFFFFFF80, 0x50, "EEPROM loaded: 4 register loads, 65535 bytes"},
        {"an erased EEPROM", {}, false, 0, 0, 0x40, "EEPROM not loaded (first byte 0xFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::SimRack sr({"84"});
        {
            std::vector<uint8_t> bytes(sr.rack().card(1).pcieEepromBytes().size(), 0xFF);
            std::copy(c.image.begin(), c.image.end(), bytes.begin());
            std::ofstream(sr.dir() + "/card1/pcie-eeprom.bin", std::ios::binary | std::ios::in)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
        }
        sr.reopen();
        sr.rack().powerCycle();
        sim::Pex8111Function* bridge = sr.rack().card(1).bridgeFunction();
        ASSERT_NE(bridge, nullptr);
        const uint64_t now = sim::virtualClock().nowUs();
        EXPECT_EQ(bridge->eepromLoad().loaded, c.loaded);
        EXPECT_EQ(bridge->eepromLoad().registers, c.loads);
        EXPECT_EQ(bridge->gpioctl(), c.gpioctl);
        EXPECT_EQ(bridge->configRead(0x34, 8, now), c.capabilities);
        const std::string shown = sim::reportText(sim::reportCard(sr.rack().card(1), now));
        EXPECT_NE(shown.find(c.shown), std::string::npos) << shown;
        sr.reopen();  // a reopened rack keeps what the bridge loaded
        EXPECT_EQ(sr.rack().card(1).bridgeFunction()->gpioctl(), c.gpioctl);
        EXPECT_EQ(sr.rack().card(1).bridgeFunction()->configRead(0x34, 8, now), c.capabilities);
    }
}

}  // namespace
}  // namespace simtest
