// A stand-in for the access library with one PCI 9030 card whose mailbox
// answers from a script: every transmission the host starts is handed to a
// responder, and what it returns lands in the receive ring at once. It makes
// byte-exact exchanges that a real boot loader would not produce on demand
// (a checksum echo that never matches, a refusal cut short, probes answered
// with anything but "U").
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/hw/CardFpga.h"

namespace scripted {

struct Card {
    uint8_t ring[sim::card_regs::kRingSize] = {};
    unsigned rptr = 0;
    uint8_t rama = 0;
    uint8_t window[sim::card_regs::kRingSize] = {};
    uint8_t tbuf = 0;
    // Chunk sent -> bytes the card answers.
    std::function<std::string(const std::string&)> respond;
    // Every transmission, in order.
    std::vector<std::string> chunks;
};

Card& card();
void reset();

}  // namespace scripted
