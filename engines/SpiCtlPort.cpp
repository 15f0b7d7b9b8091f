#include "SpiCtlPort.h"

#include "../chips/VjxFpga.h"

namespace {

uint8_t reversed(uint8_t byte) {
    uint8_t out = 0;
    for (int i = 0; i < 8; ++i)
        if (byte & (1u << i)) out = static_cast<uint8_t>(out | (0x80u >> i));
    return out;
}

}  // namespace

void CSpiCtlPort::set(uint8_t bits, bool on) {
    m_shadow = static_cast<uint8_t>(on ? (m_shadow | bits) : (m_shadow & ~bits));
    m_reg.Write(m_shadow);
}

// One line at a time, in the order the FPGA expects when it hands the
// flash over: host access first, the flash deselected before the clock is
// driven low.
void CSpiCtlPort::Init() {
    m_shadow = 0;
    m_reg.Write(m_shadow);
    set(fpga::SPICTL_HOST_ACCESS, true);
    set(fpga::SPICTL_PREPARE, true);
    set(fpga::SPICTL_CS_N, true);
    set(fpga::SPICTL_CLOCK, false);
    set(fpga::SPICTL_PREPARE_CLEAR, false);
}

uint8_t CSpiCtlPort::Transfer(uint8_t out) {
    if (m_shadow & fpga::SPICTL_HOST_ACCESS) set(fpga::SPICTL_CS_N, false);
    if (m_shadow & (fpga::SPICTL_CLOCK | fpga::SPICTL_HOST_ACCESS)) set(fpga::SPICTL_CLOCK, false);
    // Mode 0: the data bit is set up while the clock is low, the flash
    // samples it on the rising edge and has its own bit out by then.
    uint8_t in = 0;
    for (int bit = 7; bit >= 0; --bit) {
        set(fpga::SPICTL_DATA_OUT, (out >> bit) & 1);
        set(fpga::SPICTL_CLOCK, true);
        if (m_reg.Read() & fpga::SPICTL_DATA_IN) in = static_cast<uint8_t>(in | (1u << bit));
        set(fpga::SPICTL_CLOCK, false);
    }
    return in;
}

void CSpiCtlPort::Deselect() {
    set(fpga::SPICTL_CS_N, true);
}

void CSpiCtlPort::Send(uint8_t byte, SpiBitOrder order) {
    Transfer(order == SpiBitOrder::MsbFirst ? byte : reversed(byte));
}

uint8_t CSpiCtlPort::Receive(SpiBitOrder order) {
    const uint8_t byte = Transfer(0x00);
    return order == SpiBitOrder::MsbFirst ? byte : reversed(byte);
}
