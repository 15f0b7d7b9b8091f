#include "PlxFunction.h"

#include "hw/CardFpga.h"
#include "hw/Plx.h"

namespace sim {

PlxFunction::PlxFunction(Chip chip, MicrowireEeprom& eeprom, FpgaBlock& fpga, Mailbox& mailbox,
                         BoardWiring& wiring)
    : m_chip(chip), m_eeprom(eeprom), m_fpga(fpga), m_mailbox(mailbox), m_wiring(wiring) {
    m_config.set16(0x00, kPlxVendor);
    m_config.set16(0x02, chipDeviceId(chip));
    m_config.set16(0x04, 0x0003);  // memory and I/O decoding on, as the BIOS leaves it
    m_config.set16(0x06, 0x0280);  // medium DEVSEL timing, fast back-to-back capable
    m_config.setWritable(0x04, 0x47);
    m_config.setWritable(0x05, 0x01);
    m_config.setWritable(0x0C, 0xFF);  // cache line size
    m_config.setWritable(0x0D, 0xFF);  // latency timer
    m_config.set8(0x3C, 0x0B);         // interrupt line
    m_config.setWritable(0x3C, 0xFF);
    m_config.set8(0x3D, 0x01);  // INTA#
    setIdentity(chipIdentity(chip));
    m_regs.assign(spaceLength(0) / 4, 0);
    resetRegisters();
}

uint64_t PlxFunction::spaceLength(unsigned space) const {
    uint64_t local = m_chip == Chip::Pci9056   ? plx::kLocalSpace9056
                     : m_chip == Chip::Pci9030 ? plx::kLocalSpace9030
                                               : plx::kLocalSpace9050;
    if (space == 0 || space == 1) return local;
    if (space == 2) return plx::kCardSpace;
    return 0;
}

void PlxFunction::setIdentity(const Identity& id) {
    m_config.set8(0x08, id.revision);
    m_config.set8(0x09, static_cast<uint8_t>(id.classCode));
    m_config.set8(0x0A, static_cast<uint8_t>(id.classCode >> 8));
    m_config.set8(0x0B, static_cast<uint8_t>(id.classCode >> 16));
    m_config.set32(0x2C, id.subsystem);
}

void PlxFunction::setBars(uint32_t memory0, uint32_t io1, uint32_t memory2) {
    m_config.set32(0x10, memory0 & ~0xFu);
    m_config.set32(0x14, (io1 & ~0x3u) | 0x1);
    m_config.set32(0x18, memory2 & ~0xFu);
}

void PlxFunction::setDecoding(bool on) {
    const uint8_t command = m_config.get8(0x04);
    m_config.set8(0x04, on ? uint8_t(command | 0x03) : uint8_t(command & ~0x03));
}

void PlxFunction::resetRegisters() {
    std::fill(m_regs.begin(), m_regs.end(), 0u);
    if (m_chip == Chip::Pci9030) {
        m_regs[plx::kCntrl9030 / 4] = plx::kCntrl9030Reset;
        m_regs[plx::kGpioc9030 / 4] = plx::kGpiocReset;
    } else if (m_chip == Chip::Pci9056) {
        m_regs[plx::kCntrl9056 / 4] = plx::kCntrl9056Reset;
    }
}

void PlxFunction::restoreRegisters(const std::vector<uint32_t>& values) {
    for (size_t i = 0; i < m_regs.size() && i < values.size(); ++i) m_regs[i] = values[i];
}

unsigned PlxFunction::cntrlOffset() const {
    return m_chip == Chip::Pci9056 ? plx::kCntrl9056 : m_chip == Chip::Pci9030 ? plx::kCntrl9030 : 0;
}

bool PlxFunction::noiseBit() {
    // 16-bit Galois LFSR: reproducible, but no pattern a host could rely on.
    bool out = m_noise & 1;
    m_noise = (m_noise >> 1) ^ (out ? 0xB400u : 0u);
    return out;
}

uint32_t PlxFunction::read(unsigned space, unsigned offset, unsigned width, uint64_t nowUs) {
    if (space == 2) return readCard(offset & ~3u, nowUs);
    return laneRead(readLocal(offset & ~3u, nowUs), offset, width);
}

void PlxFunction::write(unsigned space, unsigned offset, unsigned width, uint32_t value, uint64_t nowUs) {
    if (space == 2) {
        writeCard(offset & ~3u, static_cast<uint8_t>(value), nowUs);
        return;
    }
    unsigned reg = offset & ~3u;
    uint32_t merged = width == 32 ? value : laneMerge(m_regs[reg / 4], offset, width, value);
    writeLocal(reg, merged, nowUs);
}

uint32_t PlxFunction::readLocal(unsigned offset, uint64_t nowUs) {
    uint32_t v = m_regs[offset / 4];
    if (offset == cntrlOffset() && offset != 0) {
        bool dataOut = m_eeprom.dataOut(nowUs);
        if (m_chip == Chip::Pci9056 && !(v & plx::kEeInputEnable)) dataOut = noiseBit();
        v = (v & ~plx::kEeDataOut) | (dataOut ? plx::kEeDataOut : 0);
        if (m_chip == Chip::Pci9056) {
            bool userIn = (v & plx::kUserInSelect) && m_wiring.lineLevel(1, nowUs);
            v = (v & ~plx::kUserIn) | (userIn ? plx::kUserIn : 0);
        }
    } else if (m_chip == Chip::Pci9030 && offset == plx::kGpioc9030) {
        // Data bits of pins working as inputs show the line.
        for (int pin = 0; pin <= 8; ++pin) {
            bool input = !(v & plx::gpioOutput(pin)) && (pin == 8 || (v & plx::gpioSelect(pin)));
            if (!input) continue;
            v = (v & ~plx::gpioData(pin)) | (m_wiring.lineLevel(pin, nowUs) ? plx::gpioData(pin) : 0);
        }
    }
    return v;
}

void PlxFunction::writeLocal(unsigned offset, uint32_t value, uint64_t nowUs) {
    if (offset == cntrlOffset() && offset != 0) {
        uint32_t readOnly = plx::kEeDataOut | (m_chip == Chip::Pci9056 ? plx::kUserIn : 0);
        value = (value & ~readOnly) | (m_regs[offset / 4] & readOnly);
        uint32_t old = m_regs[offset / 4];
        m_regs[offset / 4] = value;
        bool di = value & plx::kEeDataIn;
        // The PCI 9056 has one EEDI/EEDO pin: turned to input, it carries
        // whatever the EEPROM puts on it. Driven by the chip while the EEPROM
        // drives it too at the other level, it is anyone's guess.
        if (m_chip == Chip::Pci9056) {
            if (value & plx::kEeInputEnable) {
                di = m_eeprom.dataOut(nowUs);
            } else if (m_eeprom.drivesDataOut() && m_eeprom.dataOut(nowUs) != di) {
                di = noiseBit();
            }
        }
        m_eeprom.drive(value & plx::kEeSelect, value & plx::kEeClock, di, nowUs);
        const uint32_t userBits = plx::kUserOut | plx::kUserInSelect | plx::kUserOutSelect;
        if (m_chip == Chip::Pci9056 && ((old ^ value) & userBits)) m_wiring.pinsChanged(nowUs);
        return;
    }
    m_regs[offset / 4] = value;
    if (m_chip == Chip::Pci9030 && offset == plx::kGpioc9030) m_wiring.pinsChanged(nowUs);
}

uint8_t PlxFunction::readCard(unsigned offset, uint64_t nowUs) {
    if (offset == card_regs::kVersion) return m_fpga.version(nowUs);
    if (!m_fpga.configured(nowUs)) return 0xFF;  // nothing answers on the local bus
    if (m_fpga.serialFlash()) {
        if (offset == card_regs::kSpictl) return m_fpga.readSpictl(nowUs);
        if (offset == card_regs::kIntctl) return m_intctl;
    }
    return m_mailbox.read(offset, nowUs);
}

void PlxFunction::writeCard(unsigned offset, uint8_t value, uint64_t nowUs) {
    if (offset == card_regs::kVersion || !m_fpga.configured(nowUs)) return;
    if (m_fpga.serialFlash()) {
        if (offset == card_regs::kSpictl) return m_fpga.writeSpictl(value, nowUs);
        // The PCIe core's local interrupt enable: kept; the simulated cards
        // raise no interrupts.
        if (offset == card_regs::kIntctl) {
            m_intctl = value;
            return;
        }
    }
    m_mailbox.write(offset, value, nowUs);
}

void PlxFunction::contributeLines(LineDrive& drive) const {
    if (m_chip == Chip::Pci9030) {
        uint32_t g = m_regs[plx::kGpioc9030 / 4];
        for (int pin = 0; pin <= 8; ++pin) {
            bool selected = pin == 8 || (g & plx::gpioSelect(pin));
            if (selected && (g & plx::gpioOutput(pin))) {
                drive.driven[pin] = true;
                drive.level[pin] = g & plx::gpioData(pin);
            }
        }
    } else if (m_chip == Chip::Pci9056) {
        uint32_t c = m_regs[plx::kCntrl9056 / 4];
        if (c & plx::kUserOutSelect) {
            drive.driven[8] = true;
            drive.level[8] = c & plx::kUserOut;
        }
    }
}

}  // namespace sim
