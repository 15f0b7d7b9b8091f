// EEPROM of the PEX 8111 PCIe bridge: a 25xx SPI part that the bridge
// drives itself through its EECTL register, one byte per register write.
// The host waits for the bridge's busy bit between bytes; chip select stays
// on from the first byte of a command until EECTL is written with 0. The
// byte shifter is a serial-memory port under the 25-series commands.
#include <cstring>

#include "../card/VjxPci.h"
#include "../chips/Pex8111.h"
#include "../tcf/Tcf.h"
#include "Spi25.h"

namespace {

using namespace pex8111;

constexpr int kAddressBytes = 2;

constexpr int kIdleReads = 100;
constexpr unsigned kIdlePollMs = 1;
// Time the EEPROM is given for its write cycle before it is read back.
constexpr unsigned kWriteSettleMs = 100;

void report(CLogWindow* log, const char* text) {
    if (log) log->MessageBox(text, 0x10, 0);
}

}  // namespace

// ---- Byte protocol ------------------------------------------------------------

int CPciBridge::EE_WaitIdle() {
    for (int i = 0; i < kIdleReads; ++i) {
        uint32_t value = ReadEECTL();
        if (!(value & EECTL_BUSY)) return static_cast<int>(value);
        Sleep(kIdlePollMs);
    }
    return -1;
}

void CPciBridge::EE_Off() {
    // Chip select goes off in any case, so a stuck transfer is ended; a busy
    // bit that never clears marks the transfer failed.
    m_eeFailed = EE_WaitIdle() == -1;
    WriteEECTL(0);
}

void CPciBridge::EE_WriteByte(unsigned char b) {
    if (m_eeFailed) return;  // the transfer has already been ended
    int v = EE_WaitIdle();
    if (v == -1) {
        m_eeFailed = true;
        WriteEECTL(0);
        return;
    }
    WriteEECTL((static_cast<uint32_t>(v) & EECTL_WRITE_KEEP) | EECTL_WRITE_START | EECTL_CS_ENABLE | b);
}

int CPciBridge::EE_ReadByte() {
    if (m_eeFailed) return -1;
    int v = EE_WaitIdle();
    if (v != -1) {
        WriteEECTL((static_cast<uint32_t>(v) | EECTL_READ_START | EECTL_CS_ENABLE) & EECTL_READ_KEEP);
        v = EE_WaitIdle();
    }
    if (v == -1) {
        m_eeFailed = true;
        WriteEECTL(0);
        return -1;
    }
    return (v >> EECTL_READ_DATA_SHIFT) & 0xFF;
}

// ---- The byte shifter as a serial-memory port ---------------------------------

namespace {

// Chip select comes with every byte; the shifter always sends the most
// significant bit first, so the other order is made by reversing the byte.
class CEectlPort : public SpiPort {
public:
    explicit CEectlPort(CPciBridge& bridge) : m_bridge(bridge) {}
    void Select() override {}
    void Deselect() override { m_bridge.EE_Off(); }
    void Send(uint8_t byte, SpiBitOrder order) override { m_bridge.EE_WriteByte(inOrder(byte, order)); }
    uint8_t Receive(SpiBitOrder order) override {
        const int byte = m_bridge.EE_ReadByte();
        return byte < 0 ? 0 : inOrder(static_cast<uint8_t>(byte), order);
    }
    bool Failed() const override { return m_bridge.EE_Failed(); }

private:
    static uint8_t inOrder(uint8_t byte, SpiBitOrder order) {
        if (order == SpiBitOrder::MsbFirst) return byte;
        uint8_t reversed = 0;
        for (int i = 0; i < 8; ++i)
            reversed = static_cast<uint8_t>(reversed | (((byte >> i) & 1) << (7 - i)));
        return reversed;
    }
    CPciBridge& m_bridge;
};

}  // namespace

// Each transfer starts by ending whatever command a failed one left open.
void CPciBridge::EE_WriteData(int address, int count, const unsigned char* data) {
    CEectlPort port(*this);
    port.Deselect();
    if (port.Failed()) return;
    spi25::PageProgram(port, static_cast<uint32_t>(address), kAddressBytes, data,
                       count > 0 ? static_cast<unsigned>(count) : 0, SpiBitOrder::MsbFirst);
}

void CPciBridge::EE_ReadData(int address, int count, unsigned char* data) {
    CEectlPort port(*this);
    port.Deselect();
    if (port.Failed()) return;
    spi25::Read(port, static_cast<uint32_t>(address), kAddressBytes, data,
                count > 0 ? static_cast<unsigned>(count) : 0, SpiBitOrder::MsbFirst);
}

bool CPciBridge::EE_WaitWriteEnd() {
    CEectlPort port(*this);
    port.Deselect();
    // A shifter that stays busy ends the transfer; the read that follows
    // reports it.
    return spi25::WaitUntilIdle(port, kEepromWriteCycleMaxMs, kIdlePollMs);
}

// ---- Stage ----------------------------------------------------------------------

static bool pcieImageUsable(unsigned size, size_t buffered) {
    return size <= tcf::kMaxPcieEepromImage && size <= buffered;
}

int CVjxPci::writePcieEeprom() {
    if (!pcieImageUsable(m_pcieImageSize, m_pcieImage.size())) return 0;
    m_bridge.EE_WriteData(0, static_cast<int>(m_pcieImageSize), m_pcieImage.data());
    return m_bridge.EE_Failed() ? 0 : 1;
}

int CVjxPci::readPcieEeprom() {
    if (!pcieImageUsable(m_pcieImageSize, m_pcieImage.size())) return 0;
    m_bridge.EE_ReadData(0, static_cast<int>(m_pcieImageSize), m_pcieReadBack);
    return m_bridge.EE_Failed() ? 0 : 1;
}

int CVjxPci::comparePcieEeprom() {
    if (!pcieImageUsable(m_pcieImageSize, m_pcieImage.size())) return 0;
    return std::memcmp(m_pcieReadBack, m_pcieImage.data(), m_pcieImageSize) == 0 ? 1 : 0;
}

int CVjxPci::ProgramPcieEeprom(CLogWindow* log) {
    if (m_pcieImageSize == 0) return 1;

    if (!pcieImageUsable(m_pcieImageSize, m_pcieImage.size())) {
        CString text;
        text.Format("PCIe EEPROM image of %u bytes is larger than the EEPROM area (%u bytes)",
                    m_pcieImageSize, tcf::kMaxPcieEepromImage);
        report(log, text);
        return 0;
    }
    // Only PCIe cards have the PEX 8111 and its EEPROM; a PCI card has
    // nothing this image could go to.
    if (m_bridgeType != BRIDGE_9056 || !m_bridge.IsOpen()) {
        if (log) log->Append("Card has no PCIe bridge; PCIe EEPROM image not used.", 1);
        return 1;
    }
    // Even reading the EEPROM takes EECTL writes.
    if (!BridgeWritable()) {
        report(log, kSlowModeRefused);
        return 0;
    }

    // A write cycle an interrupted program started goes on; the part
    // answers no command until it has ended.
    if (!m_bridge.EE_WaitWriteEnd()) {
        CString text;
        text.Format("PCIe EEPROM still busy after %u ms", pex8111::kEepromWriteCycleMaxMs);
        report(log, text);
        return 0;
    }
    if (!readPcieEeprom()) {
        report(log, "Failed reading PCIe EEPROM! (EEPROM control stays busy)");
        return 0;
    }
    if (comparePcieEeprom()) return 1;

    if (log) log->Append("Write PCIe EEPROM...", 1);
    if (!writePcieEeprom()) {
        report(log, "Failed writing PCIe EEPROM! (EEPROM control stays busy)");
        return 0;
    }
    Sleep(kWriteSettleMs);
    if (!readPcieEeprom()) {
        report(log, "Failed reading PCIe EEPROM! (EEPROM control stays busy)");
        return 0;
    }
    if (!comparePcieEeprom()) {
        report(log, "Failed comparing PCIe EEPROM!");
        return 0;
    }
    return 1;
}
