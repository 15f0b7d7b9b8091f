// The VJX card's registers in its FPGA: 8 bits each, 4 bytes apart in
// memory space 2 of the card's function. All read 0xFF and ignore writes
// while the FPGA is not configured.
#pragma once

#include <cstdint>

namespace fpga {

constexpr uint32_t CMDW = 0x38;
constexpr uint32_t CMDD0 = 0x3C;
constexpr uint32_t CFG = 0x44;      // microcontroller control (write)
constexpr uint32_t VERSION = 0x7C;  // version of the running FPGA configuration
constexpr uint32_t IRQE = 0x84;
constexpr uint32_t IRQF = 0x88;   // mailbox status (read)
constexpr uint32_t TRCON = 0x8C;  // mailbox control (write)
constexpr uint32_t RCMP = 0x90;
constexpr uint32_t RPTR = 0x94;  // card's write index into the 64-byte receive ring
constexpr uint32_t TBUF = 0x98;  // number of bytes to transmit
constexpr uint32_t TCTL = 0x9C;
constexpr uint32_t RAMA = 0xA0;  // address of the mailbox window
constexpr uint32_t RAMD = 0xA4;  // data of the mailbox window at RAMA
constexpr uint32_t IRQ_FE = 0xA8;
constexpr uint32_t IRQ_PE = 0xAC;
constexpr uint32_t TSTART = 0xB0;  // any write starts a transmission
constexpr uint32_t IRQR_TB = 0xB4;
constexpr uint32_t IRQR_RB = 0xB8;
constexpr uint32_t IRQR_RC = 0xBC;
// PCIe-core cards (PCIe bridge inside the FPGA) only.
constexpr uint32_t SPICTL = 0xC4;  // serial-flash port
constexpr uint32_t INTCTL = 0xC8;  // interrupt control

// CFG bits.
constexpr uint8_t CFG_OFF = 0x00;
constexpr uint8_t CFG_MCU_RESET = 0x01;     // microcontroller held in reset
constexpr uint8_t CFG_BOOT_REQUEST = 0x04;  // boot loader asked for on the way out of reset
constexpr uint8_t CFG_PORT_ON = 0x08;       // communication port on

// SPICTL bits: the serial-flash lines, driven one bit at a time, and the
// switch that gives the host the flash (the FPGA's own configuration loader
// uses the same lines otherwise). The port is prepared by setting
// SPICTL_HOST_ACCESS and SPICTL_PREPARE and clearing SPICTL_PREPARE_CLEAR.
constexpr uint8_t SPICTL_CLOCK = 0x01;
constexpr uint8_t SPICTL_DATA_OUT = 0x02;     // to the device
constexpr uint8_t SPICTL_HOST_ACCESS = 0x04;  // host drives the flash
constexpr uint8_t SPICTL_PREPARE = 0x08;
constexpr uint8_t SPICTL_CS_N = 0x10;     // chip select, active low
constexpr uint8_t SPICTL_DATA_IN = 0x20;  // from the device (read)
constexpr uint8_t SPICTL_PREPARE_CLEAR = 0x40;

// INTCTL value that switches the card's interrupt off.
constexpr uint8_t INTCTL_OFF = 0x00;

// IRQF bits.
constexpr uint8_t IRQF_TX_BUSY = 0x01;  // a transmission is in progress

// TRCON value that opens the communication port.
constexpr uint8_t TRCON_OPEN = 0x15;

// The mailbox: a 64-byte receive ring at window addresses 0x00..0x3F; the
// transmit bytes go to window addresses 0x01..0x3F.
constexpr int kRingSize = 64;
constexpr unsigned kTransmitMax = 63;

// Loading its configuration, the FPGA reads the whole image serially at
// 10 MHz at the slowest: 10,000 bits per millisecond, after a start-up of
// up to 100 ms.
constexpr uint32_t kSlowestLoadBitsPerMs = 10000;
constexpr unsigned kLoadStartMs = 100;

// Milliseconds the FPGA may take to load an image of `bytes` at the
// slowest configuration clock, start-up included.
constexpr unsigned loadMs(uint32_t bytes) {
    return kLoadStartMs +
           static_cast<unsigned>((static_cast<uint64_t>(bytes) * 8 + kSlowestLoadBitsPerMs - 1) /
                                 kSlowestLoadBitsPerMs);
}

// VERSION values no configured FPGA gives.
constexpr uint8_t VERSION_NONE = 0x00;
constexpr uint8_t VERSION_UNCONFIGURED = 0xFF;

}  // namespace fpga
