// The card's FPGA as the simulator decodes it: its registers in the PLX
// chip's address space 2 (8 bits wide, 4 bytes apart), the mailbox to the
// microcontroller with the CFG and IRQF bits, the nine configuration lines
// between the bridge and the FPGA with its configuration device, and on
// PCIe-core cards the FPGA's serial-flash port.
#pragma once

#include <cstdint>

namespace sim {
namespace card_regs {

constexpr unsigned kVersion = 0x7C;  // from the FPGA's configuration

// Mailbox.
constexpr unsigned kCfg = 0x44;
constexpr unsigned kIrqf = 0x88;
constexpr unsigned kTrcon = 0x8C;
constexpr unsigned kRptr = 0x94;
constexpr unsigned kTbuf = 0x98;
constexpr unsigned kRama = 0xA0;
constexpr unsigned kRamd = 0xA4;
constexpr unsigned kTstart = 0xB0;

// CFG bits.
constexpr uint8_t kCfgReset = 0x01;        // holds the microcontroller in reset
constexpr uint8_t kCfgBootRequest = 0x04;  // boot-loader request line
constexpr uint8_t kCfgPortOn = 0x08;       // the port's UART on
// TRCON bits: the mailbox UART's receiver and transmitter enables and its
// rate select (115200 baud, the microcontroller's; clear: a rate the
// microcontroller does not use). The port carries bytes only with CFG's
// port bit set and all three of these.
constexpr uint8_t kTrconReceive = 0x01;
constexpr uint8_t kTrconTransmit = 0x04;
constexpr uint8_t kTrcon115200 = 0x10;
constexpr uint8_t kTrconOn = kTrconReceive | kTrconTransmit | kTrcon115200;
// IRQF bits.
constexpr uint8_t kIrqfTransmitting = 0x01;

// PCIe-core cards: the FPGA's port to its configuration flash, and its
// local interrupt control.
constexpr unsigned kSpictl = 0xC4;
constexpr unsigned kIntctl = 0xC8;
// SPICTL bits. The FPGA drives the flash's pins from bits 0, 1 and 4 while
// bit 2 gives the host the flash; bit 5 reads the flash's data output.
constexpr uint8_t kSpiClock = 0x01;
constexpr uint8_t kSpiDataOut = 0x02;  // to the flash
constexpr uint8_t kSpiHostAccess = 0x04;
constexpr uint8_t kSpiBit3 = 0x08;      // stored, no effect on the flash's pins
constexpr uint8_t kSpiDeselect = 0x10;  // chip select, high = not selected
constexpr uint8_t kSpiDataIn = 0x20;    // from the flash (read only)
constexpr uint8_t kSpiBit6 = 0x40;      // stored, no effect on the flash's pins

// Receive ring and transmit window, 64 bytes each; the host fills window
// addresses 1..63.
constexpr unsigned kRingSize = 64;

}  // namespace card_regs

namespace fpga_lines {
// The configuration lines as the card wires them (see FpgaBlock.h).
constexpr int kToEpcs = 0;      // data to the configuration device
constexpr int kFromEpcs = 1;    // data from the configuration device
constexpr int kClock = 2;       // its clock
constexpr int kChipSelect = 3;  // its chip select, low = selected
constexpr int kDone = 4;        // configuration done, driven by the FPGA
constexpr int kHold = 5;        // high holds the FPGA off the device
constexpr int kHostAccess = 8;  // low while the host owns the device
constexpr int kCount = 9;

// The hold drives the FPGA's nCONFIG low. Cyclone-family configuration
// timing (nCONFIG low pulse width tCFG, nCONFIG low to nSTATUS low tCF2ST0):
// a shorter hold does not reset the FPGA cleanly, and until tCF2ST0 after
// the hold began the FPGA may still drive its active-serial pins.
constexpr uint64_t kHoldMinNs = 2000;    // tCFG, minimum
constexpr uint64_t kHoldSettleNs = 600;  // tCF2ST0, maximum
}  // namespace fpga_lines

}  // namespace sim
