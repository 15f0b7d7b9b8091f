// 93-series Microwire serial EEPROM (the PLX chips' configuration EEPROM):
// a start bit, a two-bit opcode and the address, most significant bit first.
#pragma once

namespace microwire {

constexpr int OP_EXTENDED = 0;  // EWEN / EWDS / ERAL / WRAL, told apart by the top address bits
constexpr int OP_WRITE = 1;
constexpr int OP_READ = 2;
// Top address bits of the extended commands (as the two bits 5..4 of a
// six-bit address).
constexpr int EXT_EWEN = 0x30;  // 11: write enable
constexpr int EXT_EWDS = 0x00;  // 00: write disable

// The longest self-timed cycle of the part (WRAL, tWL maximum; WRITE and
// ERASE take at most 6 ms). While it runs, a raised chip select shows the
// status on DO: low busy, high ready.
constexpr unsigned kLongestWriteCycleMs = 15;

}  // namespace microwire
