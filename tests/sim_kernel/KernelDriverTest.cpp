// The simulated kernel driver seen through the seam, as the Windows program's
// adapter sees it: records built byte for byte at the driver's offsets.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/windows/KernelPort.h"
#include "sim/Rack.h"
#include "sim/kernel/InProcess.h"
#include "tests/support/SimRack.h"

namespace {

constexpr uint32_t kVersionCode = 0x95383443, kScanCode = 0x9538368F, kInfoCode = 0x953837A3,
                   kDumpCode = 0x9538346B, kRegisterCode = 0x9538379B, kUnregisterCode = 0x9538379F,
                   kTransferCode = 0x95383633, kIntDisableCode = 0x953836EF, kEventCode = 0x953837C3,
                   kDebugCode = 0x95383593;
constexpr uint32_t kInvalidIoctl = 0x2000001F;

// A request record: bytes at the driver's offsets.
struct Record {
    explicit Record(size_t size) : bytes(size, 0) {}
    std::vector<uint8_t> bytes;
    uint32_t u32(size_t at) const {
        uint32_t v;
        std::memcpy(&v, &bytes.at(at + 3) - 3, 4);
        return v;
    }
    uint64_t u64(size_t at) const {
        uint64_t v;
        std::memcpy(&v, &bytes.at(at + 7) - 7, 8);
        return v;
    }
    Record& set32(size_t at, uint32_t v) {
        std::memcpy(&bytes.at(at + 3) - 3, &v, 4);
        return *this;
    }
    Record& set64(size_t at, uint64_t v) {
        std::memcpy(&bytes.at(at + 7) - 7, &v, 8);
        return *this;
    }
};

struct Slot {
    uint32_t bus, slot, function;
};

// A PCI card, a PCIe card behind its bridge, and one whose bridge has only
// the indirect way to its registers.
class KernelDriver : public ::testing::Test {
protected:
    explicit KernelDriver(std::vector<std::string> cards = {"80", "84", "84,slow"}) : sim(std::move(cards)) {
        sim::kernel::bind(&sim.rack());
    }
    ~KernelDriver() override {
        if (device) windrv::CloseDevice(device);
        sim::kernel::bind(nullptr);
    }
    void SetUp() override {
        device = windrv::OpenDevice("\\\\.\\merix6");
        ASSERT_NE(device, nullptr);
    }

    uint32_t request(uint32_t code, Record& r) {
        uint32_t status = 0x20000000;
        EXPECT_TRUE(
            windrv::Control(device, code, r.bytes.data(), static_cast<uint32_t>(r.bytes.size()), &status));
        return status;
    }
    // The number of functions a bus scan reports.
    uint32_t scanCount() {
        Record r(2016);
        EXPECT_EQ(request(kScanCode, r), 0u);
        return r.u32(8);
    }
    Record cardInfo(Slot s, uint32_t* status = nullptr) {
        Record r(1144);
        r.set32(0, s.bus).set32(4, s.slot).set32(8, s.function);
        uint32_t st = request(kInfoCode, r);
        if (status)
            *status = st;
        else
            EXPECT_EQ(st, 0u);
        return r;
    }
    // Registers the card described by `info`; the registration record back.
    Record registerCard(const Record& info, uint32_t* status, bool checkOnly = false) {
        Record r(1272);
        std::memcpy(r.bytes.data(), info.bytes.data() + 16, 1128);
        r.set32(1128, checkOnly);
        *status = request(kRegisterCode, r);
        return r;
    }
    uint32_t configDump(Slot s, uint32_t offset, std::vector<uint8_t>& data, bool read, uint32_t* result) {
        Record r(40);
        r.set32(0, s.bus).set32(4, s.slot).set32(8, s.function);
        r.set64(16, reinterpret_cast<uintptr_t>(data.data()));
        r.set32(24, offset).set32(28, static_cast<uint32_t>(data.size())).set32(32, read);
        uint32_t status = request(kDumpCode, r);
        *result = r.u32(36);
        return status;
    }
    void configWrite32(Slot s, uint32_t offset, uint32_t value) {
        std::vector<uint8_t> d(4);
        std::memcpy(d.data(), &value, 4);
        uint32_t result;
        EXPECT_EQ(configDump(s, offset, d, false, &result), 0u);
        EXPECT_EQ(result, 0u);
    }
    // Item `i` of the resources at `card` in a record.
    static size_t item(size_t card, uint32_t i) { return card + 8 + 56 * i; }

    testsupport::SimRack sim;
    windrv::DeviceHandle device = nullptr;
    const Slot pciCard{1, 0, 0}, bridge{2, 0, 0}, slowBridge{4, 0, 0};
};

TEST_F(KernelDriver, RequestsOfAnotherCodeOrSizeAreRefusedAsTheDriverDoes) {
    Record version(132);
    EXPECT_EQ(request(kVersionCode, version), 0u);
    EXPECT_EQ(version.u32(0), 1230u);
    EXPECT_STREQ(reinterpret_cast<const char*>(version.bytes.data() + 4), "12.3.0");

    const uint32_t sizes[][2] = {{kVersionCode, 132}, {kScanCode, 2016},     {kInfoCode, 1144},
                                 {kDumpCode, 40},     {kRegisterCode, 1272}, {kUnregisterCode, 1272},
                                 {kTransferCode, 32}, {kIntDisableCode, 72}, {kDebugCode, 264}};
    for (const auto& [code, size] : sizes) {
        for (uint32_t wrong : {size - 4, size + 4}) {
            Record r(wrong);
            EXPECT_EQ(request(code, r), kInvalidIoctl) << std::hex << code << " size " << std::dec << wrong;
            EXPECT_EQ(r.bytes, std::vector<uint8_t>(wrong, 0)) << "nothing written back";
        }
    }
    Record any(264);
    EXPECT_EQ(request(0x95383000, any), kInvalidIoctl);
    EXPECT_EQ(request(kEventCode, any), kInvalidIoctl);  // no client of this driver sends it

    // Only the driver's own device opens; a handle it did not give reaches nothing.
    EXPECT_EQ(windrv::OpenDevice("\\\\.\\windrvr1230"), nullptr);
    windrv::DeviceHandle other = windrv::OpenDevice("\\\\.\\MERIX6");
    ASSERT_NE(other, nullptr);
    windrv::CloseDevice(other);
    uint32_t status = 0x20000000;
    EXPECT_FALSE(windrv::Control(other, kVersionCode, version.bytes.data(), 132, &status));
    EXPECT_EQ(status, 0x20000000u);
}

// The slow bridge's registers through MAININDEX/MAINDATA are driven by the
// Wine test's slow-mode update; here one configuration write is one cycle on
// the bus, and the dumps the driver answers with a result code.
TEST_F(KernelDriver, ConfigurationDumpsReadAndWriteAndTheSlowBridgeRegistersAnswer) {
    sim.clearTrace();
    configWrite32(slowBridge, 0x84, 0x20);  // MAININDEX: GPIOCTL
    ASSERT_EQ(sim.traceLines().size(), 1u);
    EXPECT_NE(sim.traceLines()[0].find(" bridge2 cw - 84 32 20"), std::string::npos) << sim.traceLines()[0];

    uint32_t result = 9;
    std::vector<uint8_t> data(8, 0x55);
    EXPECT_EQ(configDump({7, 0, 0}, 0, data, true, &result), 0u);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(data, std::vector<uint8_t>(8, 0xFF)) << "no function answers there";
    EXPECT_EQ(configDump(pciCard, 252, data, true, &result), 0u);
    EXPECT_EQ(result, 2u);
    EXPECT_EQ(data, std::vector<uint8_t>(8, 0xFF)) << "nothing transferred";
    // The PCI Express bridge has extended configuration space (empty here).
    EXPECT_EQ(configDump(bridge, 252, data, true, &result), 0u);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(data[4], 0u);
    Record r(40);
    r.set32(0, 1).set32(28, 4).set32(32, 1);
    EXPECT_EQ(request(kDumpCode, r), 0x2000001Bu) << "no buffer";
}

TEST_F(KernelDriver, RegistrationMapsTheMemorySpacesAndLoadsAndStoresReachTheCard) {
    Record info = cardInfo(pciCard);
    uint32_t status;
    Record check = registerCard(info, &status, true);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(check.u32(1132), 0u) << "a check registers nothing";

    // What is mapped the adapter's test shows (SimDriver.RegistrationMapsMemoryAndItsRulesHold).
    Record reg = registerCard(info, &status);
    ASSERT_EQ(status, 0u);
    const uint32_t handle = reg.u32(1132);
    const uint64_t space0 = reg.u64(item(0, 0) + 32);

    // Space 0 holds the PCI 9030's registers; behind its 128 bytes, inside
    // the mapped page, nothing answers and nothing reaches the bus.
    uint32_t direct = 0;
    ASSERT_TRUE(sim.rack().read(sim::PciFunction::Kind::Card, 1, 0, 0x50, 32, &direct, nullptr));
    EXPECT_EQ(windrv::Load32(space0 + 0x50), direct);
    sim.clearTrace();
    windrv::Store8(space0 + 0x41, 0xAB);
    EXPECT_EQ(windrv::Load8(space0 + 0x41), 0xAB);
    EXPECT_EQ(windrv::Load32(space0 + 0x80), 0xFFFFFFFFu);
    windrv::Store32(space0 + 0x80, 0);
    const auto lines = sim.traceLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" card1 w 0 41 8 ab"), std::string::npos) << lines[0];

    // Twice: the resources are taken.
    Record again = registerCard(info, &status);
    EXPECT_EQ(status, 0x2000000Eu);
    EXPECT_EQ(again.u32(1132), 0u);
    registerCard(info, &status, true);
    EXPECT_EQ(status, 0x2000000Eu);

    EXPECT_EQ(request(kUnregisterCode, reg), 0u);
    EXPECT_EQ(reg.u32(1132), handle) << "unregistering clears nothing";
    EXPECT_EQ(request(kUnregisterCode, reg), 0x20000001u);
    EXPECT_EQ(sim::kernel::registrations(), 0u);
    EXPECT_DEATH(windrv::Load32(space0 + 0x50), "access violation");
    EXPECT_DEATH(windrv::Store32(0x1000, 0), "access violation");
}

TEST_F(KernelDriver, RegistrationChecksTheResourcesAgainstTheBus) {
    uint32_t status;
    Record info = cardInfo(pciCard);
    info.set64(item(16, 0) + 8, 0xD0000000);  // no function decodes there
    registerCard(info, &status);
    EXPECT_EQ(status, 0x2000000Fu);

    Record mixed = cardInfo(pciCard);
    Record pex = cardInfo(bridge);
    std::memcpy(mixed.bytes.data() + item(16, 1), pex.bytes.data() + item(16, 0), 56);
    registerCard(mixed, &status);
    EXPECT_EQ(status, 0x2000000Fu) << "resources of two functions";

    Record irq = cardInfo(pciCard);
    irq.set32(item(16, 3) + 8, 5);  // not the card's interrupt line
    registerCard(irq, &status);
    EXPECT_EQ(status, 0x2000001Bu);

    Record many = cardInfo(pciCard);
    many.set32(16, 21);
    registerCard(many, &status);
    EXPECT_EQ(status, 0x2000001Bu);

    // A card without address spaces registers, with nothing mapped.
    Record slow = registerCard(cardInfo(slowBridge), &status);
    EXPECT_EQ(status, 0u);
    EXPECT_NE(slow.u32(1132), 0u);

    // The PCIe card's bridge maps its 64 KiB with EECTL and GPIOCTL.
    Record mapped = registerCard(cardInfo(bridge), &status);
    ASSERT_EQ(status, 0u);
    windrv::Store32(mapped.u64(item(0, 0) + 32) + 0x1020, 0x80);
    EXPECT_EQ(sim.rack().card(2).bridgeFunction()->gpioctl(), 0x80u);
}

// Transfers that reach the card: SimDriver.MemoryAndIoSpacesReachTheSameRegisters;
// here those the driver refuses.
TEST_F(KernelDriver, SingleTransfersReachTheRegisteredIoSpace) {
    Record info = cardInfo(pciCard);
    const uint64_t port = info.u64(item(16, 1) + 8);
    uint32_t value = 0;
    Record t(32);
    t.set64(0, port + 0x44)
        .set32(8, 22)
        .set32(12, 4)
        .set32(16, 1)
        .set64(24, reinterpret_cast<uintptr_t>(&value));
    EXPECT_EQ(request(kTransferCode, t), 0x2000001Bu) << "not registered yet";
    uint32_t status;
    registerCard(info, &status);
    ASSERT_EQ(status, 0u);
    EXPECT_EQ(request(kTransferCode, t), 0u);

    t.set32(12, 1);
    EXPECT_EQ(request(kTransferCode, t), 0x2000001Bu) << "a dword read of one byte";
    t.set32(12, 4).set32(8, 21);
    EXPECT_EQ(request(kTransferCode, t), 0x2000001Bu) << "no such command";
    t.set32(8, 22).set64(0, port + 0x80);
    EXPECT_EQ(request(kTransferCode, t), 0x2000001Bu) << "past the I/O range";

    Record irq(72);
    EXPECT_EQ(request(kIntDisableCode, irq), 0x2000000Du);
}

// Only a process that enabled the shutdown privilege may shut the machine
// down (what a shutdown does to the cards the Wine test shows: every card
// powered down and up).
TEST_F(KernelDriver, ShutdownNeedsThePrivilege) {
    uint64_t luid = 0;
    ASSERT_TRUE(windrv::LookupPrivilege(nullptr, "SeShutdownPrivilege", &luid));
    EXPECT_FALSE(windrv::LookupPrivilege(nullptr, "SeNoSuchPrivilege", &luid));
    EXPECT_FALSE(windrv::RequestExitWindows(0x2, 0)) << "privilege not enabled";
    windrv::TokenHandle token = nullptr;
    ASSERT_TRUE(windrv::OpenProcessToken(0x28, &token));
    EXPECT_TRUE(windrv::AdjustTokenPrivilege(token, luid, 0));
    EXPECT_FALSE(windrv::RequestExitWindows(0x2, 0)) << "privilege adjusted but not enabled";
    windrv::CloseToken(token);
    EXPECT_FALSE(windrv::AdjustTokenPrivilege(token, luid, 0x2)) << "closed token";
}

// A card found on the bus whose function does not answer (open=fail).
class UnreachableCard : public KernelDriver {
protected:
    UnreachableCard() : KernelDriver({"80,open=fail"}) {}
};

TEST_F(UnreachableCard, IsScannedAndDescribedButNeitherDumpedNorRegistered) {
    ASSERT_EQ(scanCount(), 1u);
    Record info = cardInfo(pciCard);
    EXPECT_EQ(info.u32(16), 4u);
    std::vector<uint8_t> data(4);
    uint32_t result;
    EXPECT_EQ(configDump(pciCard, 0, data, true, &result), 0x20000000u);
    uint32_t status;
    Record reg = registerCard(info, &status);
    EXPECT_EQ(status, 0x20000000u);
    EXPECT_EQ(reg.u32(1132), 0u);
}

}  // namespace
