// The 25xx SPI EEPROM, one byte at a time. A command is an opcode byte after
// chip select falls; WREN and WRDI take effect, and a WRITE starts its
// self-timed cycle, when chip select is released. The write cycle programs
// the bytes latched into one 32-byte page: a WRITE that runs past the end of
// its page continues at the start of the same page, overwriting what it
// latched there. During the cycle the part answers only RDSR.
//
// A started write cycle is stored at once: the part finishes it on its own,
// so the stored content is the content the cycle will leave.
#include "SpiEeprom25.h"

namespace sim {

namespace {

enum Opcode : uint8_t {
    kWrsr = 0x01,
    kWrite = 0x02,
    kRead = 0x03,
    kWrdi = 0x04,
    kRdsr = 0x05,
    kWren = 0x06,
};

constexpr uint8_t kStatusWip = 0x01;
constexpr uint8_t kStatusWel = 0x02;
constexpr uint8_t kFloating = 0xFF;  // MISO is not driven: the line floats high

}  // namespace

SpiEeprom25::SpiEeprom25(NvRegion& bytes, const Timing& timing) : m_mem(bytes), m_timing(timing) {}

bool SpiEeprom25::writeInProgress(uint64_t nowUs) const {
    return busy(nowUs);
}

uint8_t SpiEeprom25::status(uint64_t nowUs) const {
    // The latch reads set until the cycle that clears it has ended.
    if (busy(nowUs)) return kStatusWip | kStatusWel;
    return m_wel ? kStatusWel : 0;
}

void SpiEeprom25::select(bool selected, uint64_t nowUs) {
    if (m_faults.dead) return;
    const bool wasSelected = m_state != State::Deselected;
    if (selected == wasSelected) return;
    if (selected) {
        m_state = State::Opcode;
        return;
    }
    finishCommand(nowUs);
    m_state = State::Deselected;
}

void SpiEeprom25::finishCommand(uint64_t nowUs) {
    if (m_state != State::Data) return;
    switch (m_cmd) {
        case kWren:
            m_wel = true;
            break;
        case kWrdi:
            m_wel = false;
            break;
        case kWrite: {
            if (!m_anyData || m_mem.size() == 0) break;
            const size_t base = size_t(m_address % m_mem.size()) / kPageSize * kPageSize;
            for (unsigned i = 0; i < kPageSize; ++i) {
                if (m_given[i] && base + i < m_mem.size()) m_mem.writeByte(base + i, m_page[i]);
            }
            m_wel = false;
            m_busyUntil = nowUs + m_timing.spiEepromWriteUs;
            break;
        }
        default:
            break;
    }
}

uint8_t SpiEeprom25::exchange(uint8_t mosi, uint64_t nowUs) {
    if (m_faults.dead) return kFloating;
    switch (m_state) {
        case State::Deselected:
        case State::Ignore:
            return kFloating;
        case State::Opcode:
            m_cmd = mosi;
            m_address = 0;
            m_addrBytes = 0;
            if (busy(nowUs) && mosi != kRdsr) {
                m_state = State::Ignore;
            } else if (mosi == kRead || (mosi == kWrite && m_wel)) {
                m_state = State::Address;
            } else if (mosi == kWren || mosi == kWrdi || mosi == kRdsr) {
                m_state = State::Data;
            } else {
                // WRSR (no protection modelled), WRITE without the latch, or
                // an unknown opcode: nothing happens until deselect.
                m_state = State::Ignore;
            }
            return kFloating;
        case State::Address:
            m_address = (m_address << 8) | mosi;
            if (++m_addrBytes == 2) {
                m_state = State::Data;
                m_anyData = false;
                for (bool& g : m_given) g = false;
            }
            return kFloating;
        case State::Data:
            break;
    }
    switch (m_cmd) {
        case kRdsr:
            return status(nowUs);
        case kRead: {
            if (m_mem.size() == 0) return kFloating;
            const uint8_t value = m_mem.at(m_address % m_mem.size());
            m_address = unsigned((m_address + 1) % m_mem.size());
            return value;
        }
        case kWrite: {
            const unsigned offset = m_address % kPageSize;
            m_page[offset] = mosi;
            m_given[offset] = true;
            m_anyData = true;
            m_address = m_address - offset + (offset + 1) % kPageSize;
            return kFloating;
        }
        default:
            return kFloating;
    }
}

}  // namespace sim
