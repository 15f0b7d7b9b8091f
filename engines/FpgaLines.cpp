// The FPGA configuration lines of cards with a PCI 9030 or a PCI 9056 behind
// a PEX 8111: general-purpose pins of the bridges that hold the FPGA off its
// configuration device (EPC), let it load itself again, and carry the
// device's serial interface, which the host drives one bit at a time. The
// commands sent over them are in FpgaConfig.cpp.
#include "../card/VjxPci.h"
#include "../chips/Epcs.h"
#include "../chips/Pex8111.h"
#include "../chips/PlxPci90xx.h"
#include "../chips/VjxFpga.h"
#include "FpgaLinePort.h"
#include "Spi25.h"

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
constexpr Pin gpioc(uint32_t mask) {
    return Pin{Reg::Gpioc, mask, false};
}
constexpr Pin gpioctl(uint32_t mask, bool activeLow = false) {
    return Pin{Reg::Gpioctl, mask, activeLow};
}
constexpr Pin cntrl(uint32_t mask) {
    return Pin{Reg::Cntrl, mask, false};
}
constexpr Line gpiocLine(int n) {
    using namespace plx::pci9030;
    return Line{gpioc(GPIOC_SELECT(n)), gpioc(GPIOC_OUTPUT(n)), gpioc(GPIOC_DATA(n))};
}

constexpr int kLineCount = 9;

// PCI 9030: all lines are pins of GPIOC, three bits per line; line 8 has no
// select bit in use.
constexpr Line kLines9030[kLineCount] = {
    gpiocLine(0),
    gpiocLine(1),
    gpiocLine(2),
    gpiocLine(3),
    gpiocLine(4),
    gpiocLine(5),
    gpiocLine(6),
    gpiocLine(7),
    Line{kNoPin, gpioc(plx::pci9030::GPIOC_OUTPUT(8)), gpioc(plx::pci9030::GPIOC_DATA(8))},
};

// PCI 9056 behind a PEX 8111: the lines are spread over the PEX 8111's
// GPIOCTL and the PCI 9056's CNTRL; lines 4, 6 and 7 are not wired.
using pex8111::GPIOCTL_DATA;
using pex8111::GPIOCTL_GPIO_SELECT;
using pex8111::GPIOCTL_OUTPUT;
using plx::pci9056::CNTRL_USERI_DATA;
using plx::pci9056::CNTRL_USERI_SELECT;
using plx::pci9056::CNTRL_USERO_DATA;
using plx::pci9056::CNTRL_USERO_SELECT;
constexpr Line kLines9056[kLineCount] = {
    Line{gpioctl(GPIOCTL_GPIO_SELECT, true), gpioctl(GPIOCTL_OUTPUT(0)),
         gpioctl(GPIOCTL_DATA(0))},                                      // 0 data to the device
    Line{cntrl(CNTRL_USERI_SELECT), kNoPin, cntrl(CNTRL_USERI_DATA)},    // 1 data from the device
    Line{kNoPin, gpioctl(GPIOCTL_OUTPUT(1)), gpioctl(GPIOCTL_DATA(1))},  // 2 clock
    Line{kNoPin, gpioctl(GPIOCTL_OUTPUT(2)), gpioctl(GPIOCTL_DATA(2))},  // 3 chip select (low active)
    kNoLine,                                                             // 4 configuration done
    Line{kNoPin, gpioctl(GPIOCTL_OUTPUT(3)), gpioctl(GPIOCTL_DATA(3))},  // 5 hold the FPGA off
    kNoLine,
    kNoLine,
    Line{cntrl(CNTRL_USERO_SELECT), kNoPin, cntrl(CNTRL_USERO_DATA)},  // 8 host access
};

constexpr unsigned kLineSettleMs = 2;

// Released, the FPGA reads its whole configuration device in active-serial
// mode (fpga::loadMs): a full EPCS4 (512 KiB) takes up to 420 ms, a full
// EPCS1 (1 Mbit) 105 ms, on top of the FPGA's own start-up. The wait is
// polled every 1 ms.
int configPolls(uint32_t deviceBytes) {
    return static_cast<int>(fpga::loadMs(deviceBytes));
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

// ---- The lines as a serial-memory port ----------------------------------------------

// Every byte starts by pulling chip select, clock and data low, so
// selecting needs no access of its own; deselecting raises chip select.
// Commands and addresses go most significant bit first, the EPC's data
// bytes least significant bit first.
void CFpgaLinePort::Select() {}

void CFpgaLinePort::Deselect() {
    m_card.setEpcProgramMsb(1, 0, 0, nullptr, 0, 0);
}

void CFpgaLinePort::Send(uint8_t byte, SpiBitOrder order) {
    if (order == SpiBitOrder::MsbFirst)
        m_card.setEpcProgramMsb(0, 1, byte, nullptr, 0, 0);
    else
        m_card.setEpcProgramLsb(0, 1, byte, nullptr, 0, 0);
}

uint8_t CFpgaLinePort::Receive(SpiBitOrder order) {
    unsigned char byte = 0;
    if (order == SpiBitOrder::MsbFirst)
        m_card.setEpcProgramMsb(0, 1, 0, &byte, 0, 0);
    else
        m_card.setEpcProgramLsb(0, 1, 0, &byte, 0, 0);
    return byte;
}

int CVjxPci::setEpcProgramBlockStart(unsigned long address) {
    CFpgaLinePort port(*this);
    spi25::SendAddress(port, static_cast<uint32_t>(address), 3);
    return 1;
}

int CVjxPci::setEpcProgramBlockEnd() {
    return 1;
}

int CVjxPci::setEpcProgramBlockLsb(unsigned long address, const unsigned char* data, unsigned int count) {
    CFpgaLinePort port(*this);
    spi25::SendAddress(port, static_cast<uint32_t>(address), 3);
    spi25::SendData(port, data, count, SpiBitOrder::LsbFirst);
    return setEpcProgramBlockEnd();
}
