// The FPGA's mailbox to the microcontroller and the serial line between them.
//
// Receive side: every byte the MCU sends lands in a 64-byte ring at RPTR,
// which then advances and wraps from 63 to 0. The FPGA does not know how far
// the host has read: a byte the host has not fetched in time is overwritten.
// Transmit side: a separate 64-byte window; TSTART shifts window bytes 1..TBUF
// out to the MCU (the address counter wraps inside the window), and IRQF bit 0
// stays set until the last of them has left. Each byte is taken from the
// window when the shifter starts on it. A TSTART during a transmission
// restarts the shifter; the bytes not yet on the wire are dropped.
// RAMA selects a window address for RAMD: reads come from the receive ring,
// writes go to the transmit window.
// CFG: bit 0 holds the MCU in reset, bit 2 is the boot-loader request line,
// bit 3 switches the port's UART on. With the port off nothing is received
// into the ring, TSTART starts nothing, and a transmission in progress stops.
//
// On the line each byte takes byteTimeUs(baud) when the timing profile counts
// wire time (and no time otherwise), in both directions; the MCU's bytes go
// out back to back, never overlapping. A noisy link corrupts or drops each
// byte with the configured probability, drawn from a seeded generator so a
// run repeats exactly.
//
// Time is lazy: every access first lets the line catch up with the access's
// time, in time order, so an answer to a byte always follows that byte.
#include <algorithm>
#include <cstdio>
#include <limits>

#include "../hw/CardFpga.h"
#include "Microcontroller.h"

namespace sim {

namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

using namespace card_regs;

}  // namespace

Mailbox::Mailbox(Microcontroller& mcu, const Timing& timing, const LinkOptions& link)
    : m_mcu(mcu), m_timing(timing) {
    setLink(link);
}

void Mailbox::setLink(const LinkOptions& link) {
    m_link = link;
    m_random = link.seed;
}

bool Mailbox::portOn() const {
    return (m_cfg & kCfgPortOn) != 0 && (m_trcon & kTrconOn) == kTrconOn;
}

uint64_t Mailbox::byteUs() const {
    return m_timing.wireTime ? byteTimeUs(m_link.baud) : 0;
}

uint64_t Mailbox::random() {
    // splitmix64, the same sequence on every platform.
    uint64_t z = (m_random += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool Mailbox::passNoise(uint8_t* byte) {
    if (m_link.noise <= 0.0) return true;
    const double draw = static_cast<double>(random() >> 11) * (1.0 / 9007199254740992.0);
    if (draw >= m_link.noise) return true;
    const uint64_t how = random();
    if (how & 1) return false;  // lost (framing error)
    *byte = static_cast<uint8_t>(*byte ^ (1 + (how >> 1) % 255));
    return true;
}

void Mailbox::latchStarted(uint64_t nowUs) {
    const uint64_t step = byteUs();
    while (m_txLatched.size() < m_txCount && m_txStartUs + m_txLatched.size() * step <= nowUs) {
        const unsigned address = static_cast<unsigned>(m_txLatched.size() + 1) % kRingSize;
        m_txLatched.push_back(m_window[address]);
    }
}

void Mailbox::advance(uint64_t nowUs) {
    nowUs = std::max(nowUs, m_lastUs);  // time never runs back
    m_lastUs = nowUs;
    const uint64_t step = byteUs();
    for (;;) {
        const uint64_t ringUs = m_inFlight.empty() ? kNever : m_inFlight.front().arrivalUs;
        const uint64_t hostUs = transmitting() ? m_txStartUs + (m_txNext + 1) * step : kNever;
        const uint64_t queuedUs = m_mcu.nextOutputTime();
        const uint64_t mcuUs = queuedUs == kNever ? kNever : std::max(queuedUs, m_wireFreeUs);
        const uint64_t t = std::min({ringUs, hostUs, mcuUs});
        if (t == kNever || t > nowUs) break;

        if (t == ringUs) {
            const uint8_t byte = m_inFlight.front().byte;
            m_inFlight.pop_front();
            if (portOn()) {
                m_ring[m_rptr] = byte;
                m_rptr = (m_rptr + 1) % kRingSize;
            }
        } else if (t == hostUs) {
            latchStarted(t);
            uint8_t byte = m_txLatched[m_txNext++];
            ++m_stats.bytesToMcu;
            if (passNoise(&byte)) m_mcu.receive(byte, t);
        } else {
            uint8_t byte = 0;
            uint64_t startUs = 0;
            if (!m_mcu.nextOutput(t, &byte, &startUs)) continue;  // the MCU acted on its own
            ++m_stats.bytesToHost;
            m_wireFreeUs = t + step;
            if (passNoise(&byte)) m_inFlight.push_back({t + step, byte});
        }
    }
    latchStarted(nowUs);
}

void Mailbox::startTransmission(uint64_t nowUs) {
    if (!portOn() && m_rules) {
        char detail[96];
        snprintf(detail, sizeof detail,
                 "TSTART with CFG 0x%02x, TRCON 0x%02x: the UART is off, nothing is sent", m_cfg, m_trcon);
        m_rules->broken(nowUs, rule::kMailboxOff, detail);
    }
    m_txStartUs = nowUs;
    m_txCount = portOn() ? m_tbuf : 0;
    m_txNext = 0;
    m_txLatched.clear();
    latchStarted(nowUs);
}

void Mailbox::applyCfg(uint8_t value, uint64_t nowUs) {
    // A reset cuts short the byte the MCU is sending.
    if ((value & kCfgReset) && !(m_cfg & kCfgReset)) m_inFlight.clear();
    m_cfg = value;
    if (!portOn()) {
        m_txCount = m_txNext = 0;
        m_txLatched.clear();
    }
    m_mcu.setControl((value & kCfgReset) != 0, (value & kCfgBootRequest) != 0, nowUs);
}

uint8_t Mailbox::read(unsigned offset, uint64_t nowUs) {
    advance(nowUs);
    switch (offset) {
        case kCfg:
            return m_cfg;
        case kIrqf:
            return transmitting() ? kIrqfTransmitting : 0;
        case kTrcon:
            return m_trcon;
        case kRptr:
            return static_cast<uint8_t>(m_rptr);
        case kTbuf:
            return m_tbuf;
        case kRama:
            return m_rama;
        case kRamd:
            return m_ring[m_rama % kRingSize];
        default:
            return 0;
    }
}

void Mailbox::write(unsigned offset, uint8_t value, uint64_t nowUs) {
    advance(nowUs);
    switch (offset) {
        case kCfg:
            applyCfg(value, nowUs);
            break;
        case kTrcon:
            m_trcon = value;
            break;
        case kTbuf:
            m_tbuf = value;
            break;
        case kRama:
            m_rama = value;
            break;
        case kRamd:
            m_window[m_rama % kRingSize] = value;
            break;
        case kTstart:
            startTransmission(nowUs);
            break;
        default:
            break;
    }
    // Bytes due at this very moment (no wire time) go at once.
    advance(nowUs);
}

void Mailbox::clear() {
    std::fill(std::begin(m_ring), std::end(m_ring), 0);
    std::fill(std::begin(m_window), std::end(m_window), 0);
    m_rptr = 0;
    m_trcon = m_tbuf = m_rama = 0;
    m_txCount = m_txNext = 0;
    m_txLatched.clear();
    m_inFlight.clear();
    // An unconfigured FPGA drives no control line: the MCU leaves reset.
    if (m_cfg & kCfgReset) m_mcu.setControl(false, false, m_lastUs);
    m_cfg = 0;
}

}  // namespace sim
