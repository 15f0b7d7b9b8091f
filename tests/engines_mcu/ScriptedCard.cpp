#include "ScriptedCard.h"

#include "sim/hw/CardFpga.h"
#include "tests/driver/FakeMerix.h"

namespace scripted {

namespace {

using namespace sim::card_regs;

constexpr uint32_t Reg(unsigned offset) {
    return 2u << 24 | offset;
}

uint8_t g_ring[kRingSize];
uint8_t g_window[kRingSize];

// The mailbox as the host sees it: RAMA selects the byte RAMD reads from the
// receive ring and writes into the transmit window; TSTART sends TBUF bytes
// of the window from position 1, and the answer fills the ring behind RPTR.
void mailbox(fakemerix::Function& f, uint32_t reg, uint32_t value) {
    auto& r = f.registers;
    const unsigned rama = r[Reg(kRama)] % kRingSize;
    if (reg == Reg(kRamd)) g_window[rama] = static_cast<uint8_t>(value);
    if (reg == Reg(kTstart)) {
        std::string chunk;
        for (unsigned i = 1; i <= r[Reg(kTbuf)]; ++i) chunk += static_cast<char>(g_window[i % kRingSize]);
        card().chunks.push_back(chunk);
        for (char b : card().respond ? card().respond(chunk) : std::string()) {
            g_ring[r[Reg(kRptr)]] = static_cast<uint8_t>(b);
            r[Reg(kRptr)] = (r[Reg(kRptr)] + 1) % kRingSize;
        }
    }
    r[Reg(kRamd)] = g_ring[rama];
}

}  // namespace

Card& card() {
    static Card c;
    return c;
}

void reset() {
    card() = Card();
    for (unsigned i = 0; i < kRingSize; ++i) g_ring[i] = g_window[i] = 0;
    fakemerix::reset();
    fakemerix::Function f = fakemerix::MakeCard(0x9030, 1, 0x306810B5);  // a "VJX PCI S"
    f.registers[Reg(kVersion)] = 3;
    f.onWrite = mailbox;
    fakemerix::state().cards = {f};
}

}  // namespace scripted
