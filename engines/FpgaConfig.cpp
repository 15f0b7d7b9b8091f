// FPGA serial configuration device (EPC) on cards with a PCI 9030 or a
// PCI 9056 behind a PEX 8111. The host holds the FPGA off the device, drives
// the device's serial interface one bit at a time through general-purpose
// pins of the bridges, and afterwards lets the FPGA load itself again.
#include <cstring>

#include "../card/VjxPci.h"
#include "EpcDevice.h"

namespace {

// ---- Line map ----------------------------------------------------------------
// Every configuration line has a select, a direction and a data function,
// each one bit of a bridge register (or none).

enum class Reg : uint8_t { None, Gpioc, Gpioctl, Cntrl };

struct Pin {
    Reg reg;
    uint32_t mask;
    bool activeLow;  // the function is on while the bit is clear
};

struct Line {
    Pin select;
    Pin dir;  // set = output
    Pin data;
};

constexpr Pin kNoPin{Reg::None, 0, false};
constexpr Line kNoLine{kNoPin, kNoPin, kNoPin};
constexpr Pin gpioc(int bit) {
    return Pin{Reg::Gpioc, 1u << bit, false};
}
constexpr Pin gpioctl(uint32_t mask, bool activeLow = false) {
    return Pin{Reg::Gpioctl, mask, activeLow};
}
constexpr Pin cntrl(uint32_t mask) {
    return Pin{Reg::Cntrl, mask, false};
}
constexpr Line gpiocLine(int n) {
    return Line{gpioc(3 * n), gpioc(3 * n + 1), gpioc(3 * n + 2)};
}

constexpr int kLineCount = 9;

// PCI 9030: all lines are pins of GPIOC, three bits per line; line 8 has no
// select bit in use.
constexpr Line kLines9030[kLineCount] = {
    gpiocLine(0), gpiocLine(1), gpiocLine(2),
    gpiocLine(3), gpiocLine(4), gpiocLine(5),
    gpiocLine(6), gpiocLine(7), Line{kNoPin, gpioc(25), gpioc(26)},
};

// PCI 9056 behind a PEX 8111: the lines are spread over the PEX 8111's
// GPIOCTL and the PCI 9056's CNTRL; lines 4, 6 and 7 are not wired.
constexpr Line kLines9056[kLineCount] = {
    Line{gpioctl(0x3000, true), gpioctl(0x10), gpioctl(0x1)},  // 0 data to the device
    Line{cntrl(0x40000), kNoPin, cntrl(0x20000)},              // 1 data from the device
    Line{kNoPin, gpioctl(0x20), gpioctl(0x2)},                 // 2 clock
    Line{kNoPin, gpioctl(0x40), gpioctl(0x4)},                 // 3 chip select (low active)
    kNoLine,                                                   // 4 configuration done
    Line{kNoPin, gpioctl(0x80), gpioctl(0x8)},                 // 5 hold the FPGA off
    kNoLine,
    kNoLine,
    Line{cntrl(0x80000), kNoPin, cntrl(0x10000)},  // 8 host access
};

// ---- Device commands -----------------------------------------------------------
constexpr unsigned char kCmdSiliconId = 0xAB;
constexpr unsigned char kCmdRead = 0x03;
constexpr unsigned char kCmdWriteEnable = 0x06;
constexpr unsigned char kCmdBulkErase = 0xC7;
constexpr unsigned char kCmdStatus = 0x05;
constexpr unsigned char kCmdWrite = 0x02;
constexpr unsigned char kStatusBusy = 0x01;

constexpr unsigned kPage = 256;
constexpr unsigned kDotEvery = 4096;
constexpr unsigned kCrcBytes = 4;

constexpr unsigned kLineSettleMs = 2;
constexpr unsigned kErasePollMs = 500;
constexpr unsigned kEraseLimitMs = 10000;
constexpr int kWritePolls = 11;  // 1 ms apart; the last one only confirms the timeout
constexpr int kWritePollsCounted = 10;

// Released, the FPGA reads its whole configuration device in active-serial
// mode, at 10 MHz at the slowest: 10,000 bits per millisecond. A full EPCS4
// (512 KiB = 4,194,304 bits) thus takes up to 420 ms, a full EPCS1 (1 Mbit)
// 105 ms. The wait, polled every 1 ms, allows that for the whole device the
// card carries, on top of the 100 ms the FPGA's own start-up is given.
constexpr uint64_t kSlowestLoadBitsPerMs = 10000;
constexpr int kConfigStartPolls = 100;

int configPolls(uint32_t deviceBytes) {
    const uint64_t bits = static_cast<uint64_t>(deviceBytes) * 8;
    return kConfigStartPolls + static_cast<int>((bits + kSlowestLoadBitsPerMs - 1) / kSlowestLoadBitsPerMs);
}

const Line* lineOf(uint32_t bridgeType, CVjxPci::TFpga line) {
    if (static_cast<int>(line) < 0 || static_cast<int>(line) >= kLineCount) return nullptr;
    if (bridgeType == CVjxPci::BRIDGE_9030) return &kLines9030[line];
    if (bridgeType == CVjxPci::BRIDGE_9056) return &kLines9056[line];
    return nullptr;
}

void setPin(CVjxPci& card, CPciBridge& bridge, const Pin& pin, int on) {
    const bool set = (on != 0) != pin.activeLow;
    auto change = [&](uint32_t v) { return set ? (v | pin.mask) : (v & ~pin.mask); };
    switch (pin.reg) {
        case Reg::Gpioc:
            card.WriteGPIOC(change(card.ReadGPIOC()));
            break;
        case Reg::Cntrl:
            card.WriteCNTRL(change(card.ReadCNTRL()));
            break;
        case Reg::Gpioctl:
            // Starts from the bridge's copy; an unchanged value is not written.
            bridge.WriteGPIOCTL(change(bridge.ReadGPIOCTL(0)));
            break;
        case Reg::None:
            break;
    }
}

int getPin(CVjxPci& card, CPciBridge& bridge, const Pin& pin) {
    uint32_t value = 0;
    switch (pin.reg) {
        case Reg::Gpioc:
            value = card.ReadGPIOC();
            break;
        case Reg::Cntrl:
            value = card.ReadCNTRL();
            break;
        case Reg::Gpioctl:
            value = bridge.ReadGPIOCTL(1);
            break;
        case Reg::None:
            return 0;
    }
    return (value & pin.mask) ? 1 : 0;
}

}  // namespace

// ---- Lines --------------------------------------------------------------------------

void CVjxPci::EpcSelect(TFpga line, int on) {
    if (const Line* l = lineOf(m_bridgeType, line)) setPin(*this, m_bridge, l->select, on);
}

void CVjxPci::EpcDir(TFpga line, int out) {
    if (const Line* l = lineOf(m_bridgeType, line)) setPin(*this, m_bridge, l->dir, out);
}

void CVjxPci::EpcData(TFpga line, int value) {
    if (const Line* l = lineOf(m_bridgeType, line)) setPin(*this, m_bridge, l->data, value);
}

int CVjxPci::EpcData(TFpga line) {
    const Line* l = lineOf(m_bridgeType, line);
    return l ? getPin(*this, m_bridge, l->data) : 0;
}

void CVjxPci::setFpgaInitPorts() {
    for (int n = 0; n < kLineCount; ++n) EpcSelect(static_cast<TFpga>(n), 1);
    for (int n = 0; n < kLineCount - 1; ++n) EpcDir(static_cast<TFpga>(n), 0);
    for (TFpga n : {FPGA_DATA_OUT, FPGA_CLOCK, FPGA_CS, FPGA_CONFIG}) EpcData(n, 0);
    EpcData(FPGA_HOST, 0);
}

int CVjxPci::setFpgaResetConfig() {
    setFpgaInitPorts();
    EpcDir(FPGA_HOST, 1);
    EpcData(FPGA_HOST, 0);
    Sleep(kLineSettleMs);
    EpcDir(FPGA_CONFIG, 1);
    EpcData(FPGA_CONFIG, 1);
    Sleep(kLineSettleMs);
    EpcDir(FPGA_DATA_OUT, 1);
    EpcData(FPGA_DATA_OUT, 1);
    EpcDir(FPGA_CLOCK, 1);
    EpcData(FPGA_CLOCK, 1);
    EpcDir(FPGA_CS, 1);
    EpcData(FPGA_CS, 1);  // device not selected
    return 1;
}

int CVjxPci::setFpgaConfig() {
    setFpgaInitPorts();
    EpcDir(FPGA_DATA_OUT, 0);
    EpcDir(FPGA_CLOCK, 0);
    EpcDir(FPGA_CS, 0);
    Sleep(kLineSettleMs);
    EpcDir(FPGA_HOST, 1);
    EpcDir(FPGA_CONFIG, 1);
    EpcData(FPGA_HOST, 0);
    EpcData(FPGA_CONFIG, 1);
    Sleep(kLineSettleMs);

    // Something to tell the new configuration by: configuration done on the
    // 9030 (which must be low while the FPGA is held), a change of the
    // version register on the 9056.
    uint8_t heldVersion = 0;
    if (m_bridgeType == BRIDGE_9030) {
        if (EpcData(FPGA_CONF_DONE)) return 0;
    } else if (m_bridgeType == BRIDGE_9056) {
        heldVersion = ReadVERSION();
    } else {
        return 0;
    }

    EpcData(FPGA_CONFIG, 0);
    Sleep(kLineSettleMs);
    EpcData(FPGA_HOST, 1);
    // The device the last run identified; without one, the largest any card
    // carries.
    const int polls = configPolls(m_epcBytes ? m_epcBytes : epc::largestCapacity());
    for (int i = 0; i < polls; ++i) {
        Sleep(1);
        if (m_bridgeType == BRIDGE_9030) {
            if (EpcData(FPGA_CONF_DONE)) return 1;
        } else if (ReadVERSION() != heldVersion) {
            return 1;
        }
        pumpMessage();
    }
    return 0;
}

int CVjxPci::getFpgaConfig(int* ok) {
    int configured = setFpgaConfig();
    if (ok) *ok = configured;
    return 1;
}

// ---- Serial transfer --------------------------------------------------------------

namespace {

// One byte on the device's serial lines. The device shifts its data out on
// the falling clock edge and samples ours on the rising one; bit order is the
// caller's (commands and addresses most significant bit first, data bytes
// least significant bit first).
unsigned char epcShiftByte(CVjxPci& card, int cs, int shift, unsigned char out, int dataOut, int clock,
                           bool msbFirst) {
    card.EpcData(CVjxPci::FPGA_CS, cs);
    card.EpcData(CVjxPci::FPGA_CLOCK, clock);
    card.EpcData(CVjxPci::FPGA_DATA_OUT, dataOut);
    unsigned char received = 0;
    if (!shift) return received;
    for (int i = 0; i < 8; ++i) {
        const int bit = msbFirst ? 7 - i : i;
        card.EpcData(CVjxPci::FPGA_CLOCK, 0);
        card.EpcData(CVjxPci::FPGA_DATA_OUT, (out >> bit) & 1);
        if (card.EpcData(CVjxPci::FPGA_DATA_IN)) received |= static_cast<unsigned char>(1u << bit);
        card.EpcData(CVjxPci::FPGA_CLOCK, 1);
    }
    return received;
}

}  // namespace

int CVjxPci::setEpcProgramMsb(int cs, int shift, unsigned char out, unsigned char* in, int dataOut,
                              int clock) {
    const unsigned char received = epcShiftByte(*this, cs, shift, out, dataOut, clock, true);
    if (in) *in = received;
    return 1;
}

int CVjxPci::setEpcProgramLsb(int cs, int shift, unsigned char out, unsigned char* in, int dataOut,
                              int clock) {
    const unsigned char received = epcShiftByte(*this, cs, shift, out, dataOut, clock, false);
    if (in) *in = received;
    return 1;
}

int CVjxPci::setEpcProgramBlockStart(unsigned long address) {
    setEpcProgramMsb(0, 1, static_cast<unsigned char>((address >> 16) & 0xFF), nullptr, 0, 0);
    setEpcProgramMsb(0, 1, static_cast<unsigned char>((address >> 8) & 0xFF), nullptr, 0, 0);
    setEpcProgramMsb(0, 1, static_cast<unsigned char>(address & 0xFF), nullptr, 0, 0);
    return 1;
}

int CVjxPci::setEpcProgramBlockEnd() {
    return 1;
}

int CVjxPci::setEpcProgramBlockLsb(unsigned long address, const unsigned char* data, unsigned int count) {
    setEpcProgramBlockStart(address);
    if (!data) count = 0;
    unsigned i = 0;
    for (; i + 3 <= count; i += 3) {
        for (unsigned k = 0; k < 3; ++k) setEpcProgramLsb(0, 1, data[i + k], nullptr, 0, 0);
        pumpMessage();
    }
    setEpcProgramBlockEnd();
    for (; i < count; ++i) setEpcProgramLsb(0, 1, data[i], nullptr, 0, 0);
    return 1;
}

// ---- Engine ----------------------------------------------------------------------------

int CVjxPci::doFlashFpga(const unsigned char* image, unsigned int size) {
    CLogWindow* log = m_log;
    auto line = [log](const char* text) {
        if (log) log->Append(text, 1);
    };
    auto dot = [log]() {
        if (log) log->Append('.');
    };
    auto fail = [this, log]() {
        if (log) log->MessageBox("Can't program FPGA: ", m_lastError, 0x10, 0);
        return 0;
    };

    // Refusals that must come before the FPGA is held off or anything is sent.
    if (m_bridgeType != BRIDGE_9030 && m_bridgeType != BRIDGE_9056) {
        m_lastError += "\nThe card has no FPGA configuration lines on its bridge";
        return fail();
    }
    if (m_bridgeType == BRIDGE_9056 && !BridgeWritable()) {
        if (log) log->MessageBox(kSlowModeRefused, 0x10, 0);
        return 0;
    }
    if (!image || size < kCrcBytes) {
        m_lastError += "\nThe FPGA image is empty";
        return fail();
    }

    auto command = [this](unsigned char byte) { setEpcProgramMsb(0, 1, byte, nullptr, 0, 0); };
    auto receiveMsb = [this]() {
        unsigned char byte = 0;
        setEpcProgramMsb(0, 1, 0, &byte, 0, 0);
        return byte;
    };
    auto receiveLsb = [this]() {
        unsigned char byte = 0;
        setEpcProgramLsb(0, 1, 0, &byte, 0, 0);
        return byte;
    };
    auto deselect = [this]() { setEpcProgramMsb(1, 0, 0, nullptr, 0, 0); };
    auto status = [&]() {
        command(kCmdStatus);
        unsigned char s = receiveMsb();
        deselect();
        return s;
    };

    setFpgaResetConfig();
    deselect();

    command(kCmdSiliconId);
    for (int i = 0; i < 3; ++i) command(0x00);
    const unsigned char id = receiveMsb();
    deselect();
    const uint32_t capacity = epc::capacity(id);
    m_epcBytes = capacity;
    // The two refusals below leave the device as it was: the FPGA is let
    // load from it again, so the card keeps running.
    if (capacity == 0) {
        setFpgaConfig();
        CString text;
        text.Format(vjx::platform::kEpcSiliconIdUnknown, id);
        if (log) log->MessageBox(text, 0x10, 0);
        return 0;
    }
    // An image that does not fit would wrap round and overwrite its own
    // start; refuse it while the device still holds its old content.
    if (size > capacity) {
        setFpgaConfig();
        CString text;
        text.Format("\nFPGA image of %u bytes (with CRC) is larger than the configuration device (%u bytes)",
                    size, capacity);
        m_lastError += text;
        return fail();
    }

    line("Comparing FPGA...");
    const unsigned crcAt = size - kCrcBytes;
    command(kCmdRead);
    setEpcProgramBlockStart(crcAt);
    unsigned char crc[kCrcBytes];
    for (unsigned char& b : crc) b = receiveLsb();
    deselect();

    bool differs = std::memcmp(crc, image + crcAt, kCrcBytes) != 0;
    if (!differs && SlowFpgaMode()) {
        line("FPGA CRC test passed.");
        return 1;
    }
    if (!differs) {
        unsigned char page[kPage];
        for (unsigned address = 0; address < size && !differs; address += kPage) {
            command(kCmdRead);
            setEpcProgramBlockStart(address);
            for (unsigned char& b : page) b = receiveLsb();
            deselect();
            const unsigned length = size - address < kPage ? size - address : kPage;
            differs = std::memcmp(page, image + address, length) != 0;
            if (!differs && (address + kPage) % kDotEvery == 0) dot();
            pumpMessage();
        }
        if (!differs) return 1;
    }

    line(vjx::platform::kSplitEraseLogLines ? "Write enable FPGA..." : "Bulk erasing FPGA...");
    command(kCmdWriteEnable);
    deselect();
    if (vjx::platform::kSplitEraseLogLines) line("Bulk erase FPGA...");
    command(kCmdBulkErase);
    deselect();

    // Polled at once and every 500 ms up to 10 s: a poll that finds the
    // erase finished ends the wait as done, the last one included.
    bool erased = false;
    for (unsigned waited = 0;; waited += kErasePollMs) {
        if (!(status() & kStatusBusy)) {
            erased = true;
            break;
        }
        if (waited >= kEraseLimitMs) break;
        Sleep(kErasePollMs);
        pumpMessage();
    }
    line("Programming FPGA...");
    if (!erased) {
        m_lastError += "\nFPGA erase timeout";
        return fail();
    }

    for (unsigned address = 0; address < size;) {
        const unsigned end = (address / kPage + 1) * kPage < size ? (address / kPage + 1) * kPage : size;
        const unsigned length = end - address;
        const unsigned char* bytes = image + address;
        bool erased = true;
        for (unsigned i = 0; i < length && erased; ++i) erased = bytes[i] == 0xFF;
        if (!erased) {
            command(kCmdWriteEnable);
            deselect();
            command(kCmdWrite);
            setEpcProgramBlockLsb(address, bytes, length);
            deselect();
            if (address % kDotEvery == 0) dot();
            int poll = 0;
            for (; poll < kWritePolls; ++poll) {
                Sleep(1);
                pumpMessage();
                if (!(status() & kStatusBusy)) break;
            }
            if (poll >= kWritePollsCounted) {
                m_lastError += "\nWrite FPGA bytes timeout";
                return fail();
            }
        }
        address = end;
    }
    return 1;
}
