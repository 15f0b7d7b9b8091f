#include "SpiMemory.h"

#include <algorithm>

#include "../hw/Spi25.h"

namespace sim {

using namespace spi25;

SpiMemoryPart SpiMemoryPart::eeprom25(const Timing& timing) {
    SpiMemoryPart p;
    p.addressBytes = 2;
    p.pageSize = 32;
    p.writeUs = timing.spiEepromWriteUs;
    return p;
}

SpiMemoryPart SpiMemoryPart::epcs(uint8_t siliconId, const Timing& timing) {
    SpiMemoryPart p;
    p.addressBytes = 3;
    p.pageSize = 256;
    p.programClearsBits = true;
    p.siliconId = siliconId;
    p.erases = true;
    p.writeUs = timing.epcsPageUs;
    p.bulkEraseUs = timing.bulkEraseUs(siliconId);
    p.sectorEraseUs = timing.epcsSectorEraseUs;
    return p;
}

SpiMemory::SpiMemory(NvRegion& memory, const SpiMemoryPart& part) : m_mem(memory), m_part(part) {}

uint32_t SpiMemory::wrap(uint32_t address) const {
    return m_mem.size() ? uint32_t(address % m_mem.size()) : 0;
}

uint8_t SpiMemory::status(uint64_t nowUs) const {
    // The latch reads set until the cycle that clears it has ended.
    if (busy(nowUs)) return kStatusWip | kStatusWel;
    return m_wel ? kStatusWel : 0;
}

void SpiMemory::powerUp() {
    m_wel = false;
    m_busy = BusyPeriod();
    m_selected = false;
    m_bytes = 0;
    m_ignored = false;
    m_outActive = false;
}

void SpiMemory::select(bool selected, uint64_t nowUs, bool byteBoundary) {
    if (m_faults.dead || selected == m_selected) return;
    if (!selected && byteBoundary) execute(nowUs);
    m_selected = selected;
    m_bytes = 0;
    m_command = 0;
    m_ignored = false;
    m_address = 0;
    m_outActive = false;
    m_outByte = 0xFF;
    m_anyData = false;
    m_page.assign(m_part.pageSize, 0xFF);
    m_given.assign(m_part.pageSize, false);
}

bool SpiMemory::output(uint8_t* byte) const {
    if (m_faults.dead || !m_selected || !m_outActive) return false;
    *byte = m_outByte;
    return true;
}

uint8_t SpiMemory::exchange(uint8_t mosi, uint64_t nowUs) {
    uint8_t out = 0xFF;  // MISO floats high while the part does not drive it
    if (!output(&out)) out = 0xFF;
    input(mosi, nowUs);
    return out;
}

// A complete byte arrived; decides what the next byte slot sends.
void SpiMemory::input(uint8_t byte, uint64_t nowUs) {
    if (m_faults.dead || !m_selected) return;
    const int index = m_bytes++;
    const int addressBytes = m_part.addressBytes;
    m_outActive = false;
    if (index == 0) {
        m_command = byte;
        m_ignored = busy(nowUs) && byte != kReadStatus;
    }
    if (m_ignored) return;
    const bool addressByte = index >= 1 && index <= addressBytes;
    switch (m_command) {
        case kReadStatus:
            m_outActive = true;
            m_outByte = status(nowUs);
            break;
        case kReadId:
            // Dummy bytes as long as an address, then the silicon ID for as
            // long as clocks come.
            if (m_part.siliconId >= 0 && index >= addressBytes) {
                m_outActive = true;
                m_outByte = uint8_t(m_part.siliconId);
            }
            break;
        case kRead:
            if (addressByte) m_address = m_address << 8 | byte;
            if (index == addressBytes) {
                m_address = wrap(m_address);
            } else if (index > addressBytes) {
                m_address = wrap(m_address + 1);
            }
            if (index >= addressBytes && m_mem.size() != 0) {
                m_outActive = true;
                m_outByte = m_mem.at(m_address);
            }
            break;
        case kWrite:
        case kSectorErase:
            if (addressByte) m_address = m_address << 8 | byte;
            if (index > addressBytes && m_command == kWrite) {
                const size_t offset = m_address % m_part.pageSize;
                m_page[offset] = byte;
                m_given[offset] = true;
                m_anyData = true;
                m_address = uint32_t(m_address - offset + (offset + 1) % m_part.pageSize);
            }
            break;
        default:
            break;
    }
}

void SpiMemory::startCycle(uint64_t busyUs, bool hangs, uint64_t nowUs) {
    m_wel = false;
    m_busy = hangs ? BusyPeriod::never() : BusyPeriod::until(nowUs + busyUs);
}

// Chip select rose on a byte boundary: a command that changes the part acts
// now, if it had the right number of bytes.
void SpiMemory::execute(uint64_t nowUs) {
    if (m_ignored || m_bytes == 0) return;
    const int bytes = m_bytes;
    const int addressBytes = m_part.addressBytes;
    switch (m_command) {
        case kWriteEnable:
            if (bytes == 1) m_wel = true;
            break;
        case kWriteDisable:
            if (bytes == 1) m_wel = false;
            break;
        case kBulkErase: {
            if (!m_part.erases || bytes != 1 || !m_wel) break;
            if (!m_faults.eraseHangs) m_mem.fill(0xFF);
            startCycle(m_part.bulkEraseUs, m_faults.eraseHangs, nowUs);
            break;
        }
        case kSectorErase: {
            if (!m_part.erases || bytes != 1 + addressBytes || !m_wel || m_mem.size() == 0) break;
            const size_t start = wrap(m_address) / m_part.sectorSize * m_part.sectorSize;
            const size_t length = std::min(m_part.sectorSize, m_mem.size() - start);
            if (!m_faults.eraseHangs) {
                const std::vector<uint8_t> erased(length, 0xFF);
                m_mem.write(start, erased.data(), length);
            }
            startCycle(m_part.sectorEraseUs, m_faults.eraseHangs, nowUs);
            break;
        }
        case kWrite: {
            if (bytes <= 1 + addressBytes || !m_wel || !m_anyData || m_mem.size() == 0) break;
            if (!m_faults.writeHangs) {
                const size_t base = wrap(m_address) / m_part.pageSize * m_part.pageSize;
                const size_t length = std::min(m_part.pageSize, m_mem.size() - base);
                std::vector<uint8_t> page(m_mem.data() + base, m_mem.data() + base + length);
                for (size_t i = 0; i < length; ++i) {
                    if (!m_given[i]) continue;
                    page[i] = m_part.programClearsBits ? uint8_t(page[i] & m_page[i]) : m_page[i];
                }
                m_mem.write(base, page.data(), length);
            }
            startCycle(m_part.writeUs, m_faults.writeHangs, nowUs);
            break;
        }
        default:
            break;
    }
}

}  // namespace sim
