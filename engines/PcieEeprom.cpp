// EEPROM of the PEX 8111 PCIe bridge: an SPI part that the bridge drives
// itself through its EECTL register, one byte per register write. The host
// waits for the bridge's busy bit between bytes; chip select stays on from
// the first byte of a command until EECTL is written with 0.
#include <cstring>

#include "../card/VjxPci.h"
#include "../tcf/Tcf.h"

namespace {

// EECTL bits.
constexpr uint32_t kSendStart = 0x00010000;   // shift out bits 7..0
constexpr uint32_t kReadStart = 0x00020000;   // shift a byte into bits 15..8
constexpr uint32_t kChipSelect = 0x00040000;  // EEPROM selected
constexpr uint32_t kBusy = 0x00080000;        // a byte is being shifted
constexpr uint32_t kSendKeep = 0x7FFAFF00;    // bits kept when a byte is sent
constexpr uint32_t kReadKeep = 0x7FFFFFFF;    // bit 31 is cleared by every command

// SPI EEPROM commands.
constexpr unsigned char kCmdWriteEnable = 0x06;
constexpr unsigned char kCmdWrite = 0x02;
constexpr unsigned char kCmdRead = 0x03;

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
        if (!(value & kBusy)) return static_cast<int>(value);
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
    WriteEECTL((static_cast<uint32_t>(v) & kSendKeep) | kSendStart | kChipSelect | b);
}

int CPciBridge::EE_ReadByte() {
    if (m_eeFailed) return -1;
    int v = EE_WaitIdle();
    if (v != -1) {
        WriteEECTL((static_cast<uint32_t>(v) | kReadStart | kChipSelect) & kReadKeep);
        v = EE_WaitIdle();
    }
    if (v == -1) {
        m_eeFailed = true;
        WriteEECTL(0);
        return -1;
    }
    return (v >> 8) & 0xFF;
}

void CPciBridge::EE_WriteData(int address, int count, const unsigned char* data) {
    EE_Off();
    if (m_eeFailed) return;
    // The write enable latches when chip select goes off.
    EE_WriteByte(kCmdWriteEnable);
    if (m_eeFailed) return;
    EE_Off();
    if (m_eeFailed) return;
    EE_WriteByte(kCmdWrite);
    EE_WriteByte(static_cast<unsigned char>((address >> 8) & 0xFF));
    EE_WriteByte(static_cast<unsigned char>(address & 0xFF));
    for (int i = 0; i < count && data && !m_eeFailed; ++i) EE_WriteByte(data[i]);
    if (m_eeFailed) return;
    // Chip select off starts the EEPROM's internal write.
    EE_Off();
}

void CPciBridge::EE_ReadData(int address, int count, unsigned char* data) {
    EE_Off();
    if (m_eeFailed) return;
    EE_WriteByte(kCmdRead);
    EE_WriteByte(static_cast<unsigned char>((address >> 8) & 0xFF));
    EE_WriteByte(static_cast<unsigned char>(address & 0xFF));
    for (int i = 0; i < count && data && !m_eeFailed; ++i) {
        int byte = EE_ReadByte();
        if (byte < 0) return;
        data[i] = static_cast<unsigned char>(byte);
    }
    if (m_eeFailed) return;
    EE_Off();
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
