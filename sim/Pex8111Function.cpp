#include "Pex8111Function.h"

#include <cstdio>

#include "CardModels.h"
#include "hw/CardFpga.h"
#include "hw/Pex8111.h"

namespace sim {
namespace {

// GPIOCTL pins as the card wires them: GPIO n carries FPGA line kLine[n].
constexpr int kLine[pex::kGpios] = {fpga_lines::kToEpcs, fpga_lines::kClock, fpga_lines::kChipSelect,
                                    fpga_lines::kHold};

}  // namespace

Pex8111Function::Pex8111Function(Pex8111Eectl& eectl, BoardWiring& wiring, bool hasAddressSpace)
    : m_eectl(eectl), m_wiring(wiring), m_hasSpace(hasAddressSpace) {
    m_config.set16(0x00, kPlxVendor);
    m_config.set16(0x02, kPex8111Device);
    m_config.set16(0x04, hasAddressSpace ? 0x0007 : 0x0005);
    m_config.set16(0x06, 0x0010);  // capabilities list
    m_config.setWritable(0x04, 0x47);
    m_config.set8(0x08, 0x21);  // revision
    m_config.set8(0x09, 0x00);  // PCI-to-PCI bridge
    m_config.set8(0x0A, 0x04);
    m_config.set8(0x0B, 0x06);
    m_config.set8(0x0E, 0x01);  // type-1 header
    m_config.set8(0x1B, 0x20);  // secondary latency timer
    m_config.set8(0x34, 0x40);  // capability pointer (power management)
    m_config.set8(0x40, 0x01);
    m_config.set8(0x41, 0x50);
    m_config.set8(0x50, 0x10);  // PCI Express capability
    for (unsigned i = 0; i < 4; ++i) m_config.setWritable(pex::kMainIndex + i, 0xFF);
    resetRegisters();
}

uint64_t Pex8111Function::spaceLength(unsigned space) const {
    return space == 0 && m_hasSpace ? pex::kSpaceLength : 0;
}

void Pex8111Function::addressChanged() {
    m_config.set8(0x18, address().bus);
}

void Pex8111Function::setSecondaryBus(uint8_t bus) {
    m_config.set8(0x19, bus);
    m_config.set8(0x1A, bus);  // subordinate bus: nothing further behind
}

void Pex8111Function::setBar(uint32_t memory0) {
    m_config.set32(0x10, m_hasSpace ? memory0 & ~0xFu : 0);
}

void Pex8111Function::resetRegisters() {
    m_gpioctl = pex::kGpioctlReset;
    m_other.clear();
    m_config.set32(pex::kMainIndex, 0);
}

void Pex8111Function::powerUp(const std::vector<uint8_t>& eeprom) {
    resetRegisters();
    m_load = EepromLoad{};
    // The bridge reads byte by byte; past the part's end, or from a part
    // that does not answer, the data line floats high.
    auto byteAt = [&eeprom, this](size_t i) {
        if (i >= eeprom.size()) return uint8_t{0xFF};
        if (i >= m_load.bytes.size()) m_load.bytes.resize(i + 1, 0xFF);
        m_load.bytes[i] = eeprom[i];
        return eeprom[i];
    };
    auto le16 = [&byteAt](size_t i) { return static_cast<unsigned>(byteAt(i) | byteAt(i + 1) << 8); };
    m_load.firstByte = byteAt(0);
    if (m_load.firstByte != pex::kEepromSignature) return;  // registers stay at their defaults
    m_load.loaded = true;
    const uint8_t format = byteAt(1);
    const unsigned registerBytes = le16(2);
    size_t at = pex::kEepromHeader;
    if (format & pex::kEepromLoadRegisters) {
        for (unsigned n = 0; n + pex::kEepromRegisterLoad <= registerBytes; n += pex::kEepromRegisterLoad) {
            const unsigned address = le16(at);
            const uint32_t value = le16(at + 2) | static_cast<uint32_t>(le16(at + 4)) << 16;
            at += pex::kEepromRegisterLoad;
            ++m_load.registers;
            if (address < pex::kRegisterBase) {
                if (address < ConfigSpace::kSize) m_config.set32(address & ~3u, value);
            } else if (address == pex::kGpioctl) {
                m_gpioctl = value;
            } else if (address != pex::kEectl) {  // the EEPROM port is busy with this very load
                m_other[address & ~3u] = value;
            }
        }
    }
    at = pex::kEepromHeader + registerBytes;
    // The shared memory is not modelled; its load is read and counted.
    if (format & pex::kEepromLoadSharedMemory) {
        m_load.sharedBytes = le16(at);
        for (unsigned i = 0; i < m_load.sharedBytes; ++i) byteAt(at + 2 + i);
    }
}

std::string Pex8111Function::eepromLoadText() const {
    char text[160];
    if (m_load.loaded)
        std::snprintf(text, sizeof text, "EEPROM loaded: %u register loads, %u bytes of shared memory",
                      m_load.registers, m_load.sharedBytes);
    else
        std::snprintf(text, sizeof text,
                      "EEPROM not loaded (first byte 0x%02X, not the signature 0x%02X): registers at their "
                      "defaults",
                      m_load.firstByte, pex::kEepromSignature);
    return text;
}

void Pex8111Function::restoreRegisters(uint32_t gpioctl, uint32_t mainIndex) {
    m_gpioctl = gpioctl;
    m_config.set32(pex::kMainIndex, mainIndex);
}

unsigned Pex8111Function::indexedOffset() const {
    return pex::kRegisterBase + (m_config.get32(pex::kMainIndex) & 0xFFC);
}

uint32_t Pex8111Function::configRead(unsigned offset, unsigned width, uint64_t nowUs) {
    if ((offset & ~3u) == pex::kMainData)
        return laneRead(readRegister(indexedOffset(), nowUs), offset, width);
    return PciFunction::configRead(offset, width, nowUs);
}

void Pex8111Function::configWrite(unsigned offset, unsigned width, uint32_t value, uint64_t nowUs) {
    if ((offset & ~3u) == pex::kMainData) {
        unsigned reg = indexedOffset();
        uint32_t merged = width == 32 ? value : laneMerge(readRegister(reg, nowUs), offset, width, value);
        writeRegister(reg, merged, nowUs);
        return;
    }
    PciFunction::configWrite(offset, width, value, nowUs);
}

uint32_t Pex8111Function::read(unsigned, unsigned offset, unsigned width, uint64_t nowUs) {
    return laneRead(readRegister(offset & ~3u, nowUs), offset, width);
}

void Pex8111Function::write(unsigned, unsigned offset, unsigned width, uint32_t value, uint64_t nowUs) {
    unsigned reg = offset & ~3u;
    uint32_t merged = width == 32 ? value : laneMerge(readRegister(reg, nowUs), offset, width, value);
    writeRegister(reg, merged, nowUs);
}

uint32_t Pex8111Function::readRegister(unsigned offset, uint64_t nowUs) {
    if (offset == pex::kEectl) return m_eectl.read(nowUs);
    if (offset == pex::kGpioctl) {
        uint32_t v = m_gpioctl;
        for (int gpio = 0; gpio < pex::kGpios; ++gpio) {
            if (m_gpioctl & pex::gpioOutputEnable(gpio)) continue;  // output: reads back what it drives
            bool level = m_wiring.lineLevel(kLine[gpio], nowUs);
            v = (v & ~pex::gpioData(gpio)) | (level ? pex::gpioData(gpio) : 0);
        }
        return v;
    }
    auto it = m_other.find(offset);
    return it == m_other.end() ? 0 : it->second;
}

void Pex8111Function::writeRegister(unsigned offset, uint32_t value, uint64_t nowUs) {
    if (offset == pex::kEectl) {
        m_eectl.write(value, nowUs);
    } else if (offset == pex::kGpioctl) {
        uint32_t old = m_gpioctl;
        m_gpioctl = value;
        if (old != value) m_wiring.pinsChanged(nowUs);
    } else {
        m_other[offset] = value;
    }
}

void Pex8111Function::contributeLines(LineDrive& drive) const {
    for (int gpio = 0; gpio < pex::kGpios; ++gpio) {
        bool output = m_gpioctl & pex::gpioOutputEnable(gpio);
        if (gpio == 0 && (m_gpioctl & pex::kGpio0Function)) output = false;  // pin given to another function
        if (!output) continue;
        drive.driven[kLine[gpio]] = true;
        drive.level[kLine[gpio]] = m_gpioctl & pex::gpioData(gpio);
    }
}

}  // namespace sim
