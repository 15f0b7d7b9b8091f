// The Microwire EEPROM on its four pins. The part samples DI on the rising
// edge of SK while CS is high; a command is a start bit (the first 1 seen),
// two opcode bits and eight address bits. Read data leaves on DO after the
// rising edge, beginning with a dummy 0. Writes are self-timed: the cycle
// starts when CS falls after a complete write command, and while it runs a
// raised CS shows the status on DO (low busy, high ready) and the part
// accepts nothing.
//
// A started write is stored at once: once the cycle has begun the part
// finishes it on its own, whatever the host does, so the stored content is
// the content the cycle will leave.
#include "MicrowireEeprom.h"

#include "../hw/Microwire.h"

namespace sim {

namespace {

using namespace microwire;
constexpr int kCommandBits = 2 + kAddressBits;

}  // namespace

MicrowireEeprom::MicrowireEeprom(NvRegion& words, const Timing& timing) : m_mem(words), m_timing(timing) {}

bool MicrowireEeprom::busy(uint64_t nowUs) const {
    return m_busy.at(nowUs);
}

bool MicrowireEeprom::writeInProgress(uint64_t nowUs) const {
    return busy(nowUs);
}

uint16_t MicrowireEeprom::word(unsigned address) const {
    const size_t at = size_t(address % kWords) * 2;
    if (at + 1 >= m_mem.size()) return 0xFFFF;
    return uint16_t(m_mem.at(at) << 8 | m_mem.at(at + 1));
}

void MicrowireEeprom::program(unsigned address, uint16_t value) {
    const size_t at = size_t(address % kWords) * 2;
    if (at + 1 >= m_mem.size()) return;
    if (m_faults.stuckBit >= 0 && m_faults.stuckBit < 16) {
        const uint16_t mask = uint16_t(1u << m_faults.stuckBit);
        value = uint16_t((value & ~mask) | (word(address) & mask));
    }
    const uint8_t bytes[2] = {uint8_t(value >> 8), uint8_t(value)};
    m_mem.write(at, bytes, 2);
}

void MicrowireEeprom::drive(bool cs, bool sk, bool di, uint64_t nowUs) {
    if (m_faults.absent) return;
    const bool csRose = cs && !m_cs;
    const bool csFell = !cs && m_cs;
    const bool skRose = sk && !m_sk;
    m_cs = cs;
    m_sk = sk;
    if (csFell) endCommand(nowUs);
    if (csRose) {
        m_phase = Phase::Idle;
        m_shift = 0;
        m_bits = 0;
    }
    // A rising clock together with the rising chip select is not seen: the
    // part needs CS set up before the edge.
    if (cs && skRose && !csRose) onRisingEdge(di, nowUs);
}

void MicrowireEeprom::onRisingEdge(bool di, uint64_t nowUs) {
    switch (m_phase) {
        case Phase::Idle:
            // During a write cycle the part ignores its inputs.
            if (di && !busy(nowUs)) {
                m_phase = Phase::Command;
                m_shift = 0;
                m_bits = 0;
            }
            break;
        case Phase::Command:
            m_shift = (m_shift << 1) | (di ? 1 : 0);
            if (++m_bits == kCommandBits) decodeCommand();
            break;
        case Phase::Data:
            m_shift = (m_shift << 1) | (di ? 1 : 0);
            if (++m_bits == kDataBits) {
                m_data = uint16_t(m_shift);
                m_phase = Phase::Complete;
            }
            break;
        case Phase::ReadOut:
            if (m_outBit > 0) {
                --m_outBit;
            } else {
                // After the dummy bit the addressed word begins; after its
                // last bit the next word follows, wrapping at the end.
                if (m_outBit == 0) m_address = (m_address + 1) % kWords;
                m_outWord = word(m_address);
                m_outBit = 15;
            }
            m_do = (m_outWord >> m_outBit) & 1;
            break;
        case Phase::Complete:
            break;
    }
}

void MicrowireEeprom::decodeCommand() {
    m_opcode = (m_shift >> kAddressBits) & 3;
    m_address = m_shift & ((1u << kAddressBits) - 1);
    m_shift = 0;
    m_bits = 0;
    m_phase = Phase::Complete;
    switch (m_opcode) {
        case kOpRead:
            m_phase = Phase::ReadOut;
            m_outBit = -1;
            m_do = false;  // the dummy bit
            break;
        case kOpWrite:
            m_pending = Pending::Write;
            m_phase = Phase::Data;
            break;
        case kOpErase:
            m_pending = Pending::Erase;
            break;
        case kOpExtended:
            switch (m_address >> (kAddressBits - 2)) {
                case kExtEwen:
                    m_writeEnabled = true;
                    break;
                case kExtEwds:
                    m_writeEnabled = false;
                    break;
                case kExtEral:
                    m_pending = Pending::EraseAll;
                    break;
                case kExtWral:
                    m_pending = Pending::WriteAll;
                    m_phase = Phase::Data;
                    break;
            }
            break;
    }
}

void MicrowireEeprom::endCommand(uint64_t nowUs) {
    const Pending pending = m_phase == Phase::Complete ? m_pending : Pending::None;
    m_phase = Phase::Idle;
    m_pending = Pending::None;
    m_do = true;
    if (pending == Pending::None || !m_writeEnabled || busy(nowUs)) return;
    if (m_faults.neverReady) {
        m_busy = BusyPeriod::never();
        return;
    }
    switch (pending) {
        case Pending::Write:
            program(m_address, m_data);
            break;
        case Pending::Erase:
            program(m_address, 0xFFFF);
            break;
        case Pending::WriteAll:
        case Pending::EraseAll:
            for (unsigned a = 0; a < kWords; ++a) program(a, pending == Pending::WriteAll ? m_data : 0xFFFF);
            break;
        case Pending::None:
            break;
    }
    const bool all = pending == Pending::WriteAll || pending == Pending::EraseAll;
    m_busy = BusyPeriod::until(nowUs + (all ? m_timing.eepromWriteAllUs : m_timing.eepromWriteUs));
}

bool MicrowireEeprom::dataOut(uint64_t nowUs) {
    if (m_faults.absent || !m_cs) return true;
    switch (m_phase) {
        case Phase::Idle:
            return !busy(nowUs);
        case Phase::ReadOut:
            return m_do;
        default:
            return true;
    }
}

}  // namespace sim
