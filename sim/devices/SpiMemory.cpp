#include "SpiMemory.h"

#include <algorithm>
#include <cstdio>

#include "../hw/SerialFlash.h"
#include "../hw/Spi25.h"

namespace sim {

using namespace spi25;
namespace sf = serial_flash;

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

SpiMemoryPart SpiMemoryPart::serialFlash(uint8_t manufacturer, uint16_t device, uint64_t uniqueId,
                                         const Timing& timing) {
    SpiMemoryPart p;
    p.addressBytes = 3;  // the part powers up in 3-byte address mode
    p.pageSize = sf::kPageSize;
    p.programClearsBits = true;
    p.siliconId = sf::kElectronicSignature;
    p.erases = true;
    p.sectorSize = sf::kBlockSize;
    p.writeUs = timing.flashPageUs;
    p.bulkEraseUs = timing.flashChipEraseUs;
    p.sectorEraseUs = timing.flashBlockEraseUs;
    p.jedecManufacturer = manufacturer;
    p.jedecDevice = device;
    p.fourByteCommands = true;
    p.anyRegister = true;
    p.uniqueId = uniqueId;
    p.registerWriteUs = timing.flashRegisterWriteUs;
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

int SpiMemory::addressLength(uint8_t command) const {
    if (m_part.fourByteCommands &&
        (command == sf::kRead4 || command == sf::kBlockErase4 || command == sf::kPageProgram4))
        return 4;
    if (m_part.anyRegister && (command == sf::kReadAnyRegister || command == sf::kWriteAnyRegister))
        return m_part.addressBytes;
    if (command == kRead || command == kWrite || command == kSectorErase) return m_part.addressBytes;
    return 0;
}

int SpiMemory::dummyLength(uint8_t command) const {
    if (m_part.fourByteCommands && command == sf::kRead4) return 1;
    if (m_part.anyRegister && command == sf::kReadAnyRegister) return 1;
    return 0;
}

uint8_t SpiMemory::registerValue(uint32_t address, uint64_t nowUs) const {
    if (address == sf::kVolatileBase) return status(nowUs);
    if (address > sf::kVolatileBase && address < sf::kVolatileBase + sf::kNvRegisters)
        return m_volatile[address - sf::kVolatileBase];
    if (address < sf::kNvRegisters && address != 1)
        return m_registers && m_registers->size() > address ? m_registers->at(address) : 0x00;
    return 0xFF;  // no register there: the output is undefined
}

void SpiMemory::writeRegister(uint64_t nowUs) {
    const uint32_t address = m_address;
    if (address < sf::kNvRegisters && address != 1) {
        // A non-volatile register: a write cycle that updates the volatile
        // copy as well.
        if (m_registers && m_registers->size() > address) m_registers->writeByte(address, m_registerData);
        if (address != sf::kSr1Nv) m_volatile[address] = m_registerData;
        startCycle(m_part.registerWriteUs, false, nowUs);
    } else if (address > sf::kVolatileBase + 1 && address < sf::kVolatileBase + sf::kNvRegisters) {
        m_volatile[address - sf::kVolatileBase] = m_registerData;  // takes effect at once
        m_wel = false;
    } else {
        m_wel = false;  // no writable register there; the latch is spent
    }
}

void SpiMemory::setRegisters(NvRegion* registers) {
    m_registers = registers;
    loadVolatileRegisters();
}

void SpiMemory::loadVolatileRegisters() {
    for (uint32_t a = 2; a < sf::kNvRegisters; ++a)
        m_volatile[a] = m_registers && m_registers->size() > a ? m_registers->at(a) : 0x00;
}

void SpiMemory::powerUp() {
    loadVolatileRegisters();
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
    m_outActive = false;
    if (index == 0) {
        m_command = byte;
        m_ignored = busy(nowUs) && byte != kReadStatus;
        if (m_ignored && m_rules && m_busyRule) {
            char detail[112];
            snprintf(detail, sizeof detail,
                     "command 0x%02x during the write or erase cycle (%llu us left): ignored, only RDSR is "
                     "answered",
                     byte, static_cast<unsigned long long>(m_busy.forever ? 0 : m_busy.endUs - nowUs));
            m_rules->broken(nowUs, m_busyRule, detail);
        }
    }
    if (m_ignored) return;
    const int addressBytes = addressLength(m_command);
    const int lastHeader = addressBytes + dummyLength(m_command);  // index of the last address or dummy byte
    if (index >= 1 && index <= addressBytes) m_address = m_address << 8 | byte;
    switch (m_command) {
        case kReadStatus:
            m_outActive = true;
            m_outByte = status(nowUs);
            break;
        case kReadId:
            // Dummy bytes as long as an address, then the silicon ID for as
            // long as clocks come.
            if (m_part.siliconId >= 0 && index >= m_part.addressBytes) {
                m_outActive = true;
                m_outByte = uint8_t(m_part.siliconId);
            }
            break;
        case sf::kReadJedecId:
            if (m_part.jedecManufacturer < 0) break;
            // Manufacturer, device high and low byte; the identification
            // data that follows on the real part is not modelled (zeros).
            m_outActive = true;
            m_outByte = index == 0   ? uint8_t(m_part.jedecManufacturer)
                        : index == 1 ? uint8_t(m_part.jedecDevice >> 8)
                        : index == 2 ? uint8_t(m_part.jedecDevice)
                                     : 0x00;
            break;
        case sf::kReadUniqueId:
            if (!m_part.anyRegister || index < 4) break;  // four dummy bytes first
            m_outActive = true;
            m_outByte = uint8_t(m_part.uniqueId >> (8 * (7 - (index - 4) % 8)));
            break;
        case sf::kReadAnyRegister:
            if (!m_part.anyRegister || index < lastHeader) break;
            m_outActive = true;
            m_outByte = registerValue(m_address, nowUs);
            break;
        case sf::kWriteAnyRegister:
            if (m_part.anyRegister && index == addressBytes + 1) m_registerData = byte;
            break;
        case sf::kRead4:
            if (!m_part.fourByteCommands) break;
            // fall through
        case kRead:
            if (index == lastHeader) {
                m_address = wrap(m_address);
            } else if (index > lastHeader) {
                m_address = wrap(m_address + 1);
            }
            if (index >= lastHeader && m_mem.size() != 0) {
                m_outActive = true;
                m_outByte = m_mem.at(m_address);
            }
            break;
        case sf::kPageProgram4:
            if (!m_part.fourByteCommands) break;
            // fall through
        case kWrite:
            if (index > addressBytes) {
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
    const int addressBytes = addressLength(m_command);
    switch (m_command) {
        case kWriteEnable:
            if (bytes == 1) m_wel = true;
            break;
        case kWriteDisable:
            if (bytes == 1) m_wel = false;
            break;
        case sf::kChipEraseAlt:
            if (m_part.jedecManufacturer < 0) break;
            // fall through
        case kBulkErase: {
            if (!m_part.erases || bytes != 1 || !m_wel) break;
            if (!m_faults.eraseHangs) m_mem.fill(0xFF);
            startCycle(m_part.bulkEraseUs, m_faults.eraseHangs, nowUs);
            break;
        }
        case sf::kBlockErase4:
            if (!m_part.fourByteCommands) break;
            // fall through
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
        case sf::kWriteAnyRegister:
            if (m_part.anyRegister && bytes == 2 + addressBytes && m_wel) writeRegister(nowUs);
            break;
        case sf::kPageProgram4:
            if (!m_part.fourByteCommands) break;
            // fall through
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
