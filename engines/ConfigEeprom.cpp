// Configuration EEPROM of the PCI bridge: a three-wire Microwire part of
// 16-bit words with 8 address bits, whose pins the bridge exposes as bits of
// its serial-EEPROM control register (CNTRL). Every line change is a
// read-modify-write of the whole register; the only waits are the 10 ms
// polls while the part writes a word.
#include "../card/VjxPci.h"
#include "../chips/Microwire93.h"
#include "../chips/PlxPci90xx.h"
#include "../tcf/Tcf.h"

namespace {

// CNTRL bits wired to the EEPROM (same positions on the PCI 9030 and 9056).
using plx::CNTRL_EECS;
using plx::CNTRL_EEDI;
using plx::CNTRL_EEDO;
using plx::CNTRL_EESK;
using plx::pci9056::CNTRL_EEDO_INPUT_ENABLE;

constexpr int kAddressBits = 8;
constexpr int kReadyTries = 100;
constexpr unsigned kReadyPollMs = 10;

void report(CLogWindow* log, const char* text) {
    if (log) log->MessageBox(text, 0x10, 0);
}

}  // namespace

// ---- Lines ------------------------------------------------------------------

static uint32_t withBit(uint32_t value, uint32_t mask, int on) {
    return on ? (value | mask) : (value & ~mask);
}

void CVjxPci::eeCs(int on) {
    WriteCNTRL(withBit(ReadCNTRL(), CNTRL_EECS, on));
}

void CVjxPci::eeSk(int on) {
    WriteCNTRL(withBit(ReadCNTRL(), CNTRL_EESK, on));
}

void CVjxPci::eeDi(int on) {
    // The 9056 must stop sampling the shared pin before the host drives it.
    eeDoEnable(0);
    WriteCNTRL(withBit(ReadCNTRL(), CNTRL_EEDI, on));
}

int CVjxPci::eeDo() {
    eeDoEnable(1);
    return (ReadCNTRL() & CNTRL_EEDO) ? 1 : 0;
}

void CVjxPci::eeDoEnable(int on) {
    if (m_bridgeType != BRIDGE_9056) return;
    WriteCNTRL(withBit(ReadCNTRL(), CNTRL_EEDO_INPUT_ENABLE, on));
}

void CVjxPci::eeEnable(int on) {
    if (!on) eeDoEnable(0);
}

int CVjxPci::eeTest() {
    return 0;
}

int CVjxPci::eeInit() {
    eeCs(0);
    eeSk(0);
    eeDi(0);
    return 0;
}

void CVjxPci::eeStart() {
    eeEnable(0);
    eeCs(0);
    eeSk(0);
    eeDi(0);
    eeCs(1);
}

void CVjxPci::eeClock() {
    eeSk(1);
    eeSk(0);
}

void CVjxPci::eeDiBit(int bit) {
    eeDi(bit);
    eeClock();
}

int CVjxPci::eeDoBit() {
    int bit = eeDo();
    eeClock();
    return bit;
}

int CVjxPci::eeDiByte(unsigned char byte) {
    for (int i = 7; i >= 0; --i) eeDiBit((byte >> i) & 1);
    return 0;
}

int CVjxPci::eeDoByte() {
    int byte = 0;
    for (int i = 0; i < 8; ++i) byte = (byte << 1) | eeDoBit();
    return byte;
}

// ---- Commands -----------------------------------------------------------------

int CVjxPci::eeAddress(int op, int address, int bits) {
    eeDiBit(1);  // start bit
    eeDiBit((op >> 1) & 1);
    eeDiBit(op & 1);
    for (int i = bits - 1; i >= 0; --i) eeDiBit((address >> i) & 1);
    return 0;
}

void CVjxPci::eeCmd(int op, int pattern, int bits) {
    // The extended commands carry their code in the two top address bits.
    int address = bits >= 6 ? pattern << (bits - 6) : pattern >> (6 - bits);
    eeAddress(op, address, bits);
}

void CVjxPci::eeCmdRead(int address, int bits) {
    eeAddress(microwire::OP_READ, address, bits);
}

void CVjxPci::eeCmdWrite(int address, int bits) {
    eeAddress(microwire::OP_WRITE, address, bits);
}

void CVjxPci::eeCmdWen(int bits) {
    eeCmd(microwire::OP_EXTENDED, microwire::EXT_EWEN, bits);
}

void CVjxPci::eeCmdWds(int bits) {
    eeCmd(microwire::OP_EXTENDED, microwire::EXT_EWDS, bits);
}

int CVjxPci::eeWaitReady() {
    // While selected after a write, the part holds DO low until its internal
    // write cycle ends, then drives it high.
    eeDi(0);
    eeClock();
    eeCs(1);
    for (int i = 0; i < kReadyTries; ++i) {
        eeClock();
        if (eeDoBit()) {
            eeCs(0);
            eeClock();
            return 1;
        }
        Sleep(kReadyPollMs);
        pumpMessage();
    }
    eeCs(0);
    eeClock();
    return 0;
}

int CVjxPci::eeWaitIdle() {
    eeStart();
    // The time waited is counted in the sleeps, each at least as long as
    // asked: a tick count moves in steps (of 15.6 ms on Windows by default)
    // and may pass the longest cycle well before the part has had it.
    unsigned waitedMs = 0;
    for (;;) {
        // The last look comes once the longest cycle is over.
        const bool last = waitedMs >= microwire::kLongestWriteCycleMs;
        const int ready = eeDo();
        if (ready || last) {
            eeCs(0);
            eeEnable(0);
            return ready;
        }
        eeCs(0);
        Sleep(1);
        ++waitedMs;
        eeCs(1);
    }
}

// ---- Image transfer -------------------------------------------------------------

// The image must fit the read-back area and the buffer that holds it.
static bool imageUsable(unsigned size, size_t buffered) {
    return size <= tcf::kMaxConfigEepromImage && size <= buffered;
}

int CVjxPci::writeEeprom(int bits) {
    if (!imageUsable(m_eeImageSize, m_eeImage.size())) return 0;
    const unsigned char* image = m_eeImage.data();

    eeStart();
    eeCmdWen(bits);
    eeCs(0);
    eeClock();

    // Each 32-bit value goes in as two words: the upper half first.
    for (unsigned i = 0; 4 * i + 4 <= m_eeImageSize; ++i) {
        const int word = static_cast<int>(2 * i);
        const unsigned char halves[2][2] = {{image[4 * i + 3], image[4 * i + 2]},
                                            {image[4 * i + 1], image[4 * i]}};
        for (int half = 0; half < 2; ++half) {
            eeCs(1);
            eeCmdWrite(word + half, bits);
            eeDiByte(halves[half][0]);
            eeDiByte(halves[half][1]);
            eeCs(0);
            if (!eeWaitReady()) {
                eeEnable(0);
                return 0;
            }
        }
    }

    eeCs(1);
    eeCmdWds(bits);
    eeCs(0);
    eeClock();
    eeEnable(0);
    return 1;
}

int CVjxPci::readEeprom(int bits) {
    if (!imageUsable(m_eeImageSize, m_eeImage.size())) return 0;

    eeStart();
    eeCmdRead(0, bits);
    // A present part answers the address with a dummy 0; an absent one
    // leaves DO pulled high.
    if (eeDoBit() != 0) {
        eeCs(0);
        eeEnable(0);
        return 0;
    }
    // One sequential read: the part moves on to the next word by itself.
    for (unsigned n = 0; n < m_eeImageSize; ++n) m_eeReadBack[n] = static_cast<unsigned char>(eeDoByte());
    eeCs(0);
    eeEnable(0);
    return 1;
}

int CVjxPci::compareEeprom() {
    if (!imageUsable(m_eeImageSize, m_eeImage.size())) return 0;
    const unsigned char* image = m_eeImage.data();
    // Read-back is in EEPROM order (word high byte first), the image holds
    // little-endian values: each value reads back byte-reversed.
    for (unsigned i = 0; 4 * i + 4 <= m_eeImageSize; ++i) {
        for (unsigned k = 0; k < 4; ++k) {
            if (m_eeReadBack[4 * i + k] != image[4 * i + 3 - k]) return 0;
        }
    }
    return 1;
}

int CVjxPci::ProgramEeprom(CLogWindow* log) {
    if (m_eeImageSize == 0) return 1;

    if (!imageUsable(m_eeImageSize, m_eeImage.size())) {
        CString text;
        text.Format("Configuration EEPROM image of %u bytes is larger than the EEPROM area (%u bytes)",
                    m_eeImageSize, tcf::kMaxConfigEepromImage);
        report(log, text);
        return 0;
    }
    // Only the PCI 9030 and PCI 9056 bring the EEPROM pins out to CNTRL.
    if (m_bridgeType != BRIDGE_9030 && m_bridgeType != BRIDGE_9056) {
        report(log, "Failed reading EEPROM!");
        return 0;
    }

    // A write cycle an interrupted program started goes on; the part
    // answers no command until it has ended.
    if (!eeWaitIdle()) {
        CString text;
        text.Format("Configuration EEPROM still busy after %u ms", microwire::kLongestWriteCycleMs);
        report(log, text);
        return 0;
    }
    if (!readEeprom(kAddressBits)) {
        report(log, "Failed reading EEPROM!");
        return 0;
    }
    if (compareEeprom()) return 1;

    if (log) log->Append("Write EEPROM...", 1);
    if (!writeEeprom(kAddressBits)) {
        report(log, "Failed writing EEPROM!");
        return 0;
    }
    if (!readEeprom(kAddressBits)) {
        report(log, "Failed reading EEPROM!");
        return 0;
    }
    if (!compareEeprom()) {
        report(log, "Failed comparing EEPROM!");
        return 0;
    }
    return 1;
}
