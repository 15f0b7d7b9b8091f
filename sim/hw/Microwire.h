// The 93C56-class Microwire EEPROM's command set as the simulated part
// decodes it: a start bit, two opcode bits and eight address bits, the
// extended opcode telling its commands apart by the top two address bits.
#pragma once

namespace sim {
namespace microwire {

constexpr unsigned kOpExtended = 0;  // EWEN, EWDS, ERAL, WRAL by the top address bits
constexpr unsigned kOpWrite = 1;
constexpr unsigned kOpRead = 2;
constexpr unsigned kOpErase = 3;

// Top two address bits of the extended opcode.
constexpr unsigned kExtEwds = 0;
constexpr unsigned kExtWral = 1;
constexpr unsigned kExtEral = 2;
constexpr unsigned kExtEwen = 3;

constexpr int kAddressBits = 8;
constexpr int kDataBits = 16;
constexpr unsigned kWords = 256;

}  // namespace microwire
}  // namespace sim
