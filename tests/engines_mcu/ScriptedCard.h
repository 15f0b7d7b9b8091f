// One PCI 9030 card on the fake access library (tests/driver/FakeMerix) whose
// mailbox answers from a script: every transmission the host starts is handed
// to a responder, and what it returns lands in the receive ring at once. It
// makes byte-exact exchanges that a real boot loader would not produce on
// demand (a checksum echo that never matches, a refusal cut short, probes
// answered with anything but "U").
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace scripted {

struct Card {
    // Chunk sent -> bytes the card answers.
    std::function<std::string(const std::string&)> respond;
    // Every transmission, in order.
    std::vector<std::string> chunks;
};

Card& card();
// A rack of this one card, with an empty script.
void reset();

}  // namespace scripted
