// The card's FPGA as the simulator decodes it: its registers in the PLX
// chip's address space 2 (8 bits wide, 4 bytes apart), the mailbox to the
// microcontroller with the CFG and IRQF bits, and the nine configuration
// lines between the bridge and the FPGA with its configuration device.
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
// IRQF bits.
constexpr uint8_t kIrqfTransmitting = 0x01;

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
}  // namespace fpga_lines

}  // namespace sim
