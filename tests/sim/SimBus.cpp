#include "SimBus.h"

#include "sim/Clock.h"

namespace simtest {
namespace {

constexpr uint32_t kClock = 1u << 24, kSelect = 1u << 25, kDataIn = 1u << 26, kDataOut = 1u << 27;
constexpr uint32_t kInputEnable = 1u << 31;
constexpr unsigned kGpioc = 0x54, kCntrl9056 = 0x6C;

}  // namespace

uint32_t Bus::read(Kind kind, unsigned space, unsigned offset, unsigned width) {
    uint32_t v = 0;
    std::string error;
    EXPECT_TRUE(m_rack.read(kind, kind == Kind::Card ? m_card : 1, space, offset, width, &v, &error))
        << error;
    return v;
}

void Bus::write(Kind kind, unsigned space, unsigned offset, unsigned width, uint32_t value) {
    std::string error;
    EXPECT_TRUE(m_rack.write(kind, kind == Kind::Card ? m_card : 1, space, offset, width, value, &error))
        << error;
}

uint32_t Bus::config32(unsigned offset, Kind kind, unsigned number) {
    uint8_t b[4] = {};
    std::string error;
    EXPECT_TRUE(m_rack.configRead(kind, number ? number : m_card, offset, 4, b, &error)) << error;
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void Bus::configWrite32(unsigned offset, uint32_t value, Kind kind, unsigned number) {
    uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                    static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    std::string error;
    EXPECT_TRUE(m_rack.configWrite(kind, number, offset, 4, b, &error)) << error;
}

void MicrowirePins::drive(bool cs, bool sk, bool di, uint64_t) {
    if (!cs) m_input = false;
    uint32_t v = m_bus.read32(0, kCntrl9056) & ~(kClock | kSelect | kDataIn | kInputEnable);
    v |= (cs ? kSelect : 0) | (sk ? kClock : 0) | (di ? kDataIn : 0) | (m_input ? kInputEnable : 0);
    m_bus.write32(0, kCntrl9056, v);
}

bool MicrowirePins::dataOut(uint64_t) {
    if (inputEnable && !m_input) {
        m_input = true;
        m_bus.write32(0, kCntrl9056, m_bus.read32(0, kCntrl9056) | kInputEnable);
    }
    return m_bus.read32(0, kCntrl9056) & kDataOut;
}

namespace {

// GPIOC: per line 0..7 three bits (select, direction, data), line 8 at 25 and 26.
uint32_t gpiocSelect(int line) {
    return line == 8 ? 0 : 1u << (3 * line);
}
uint32_t gpiocDir(int line) {
    return line == 8 ? 1u << 25 : 1u << (3 * line + 1);
}
uint32_t gpiocData(int line) {
    return line == 8 ? 1u << 26 : 1u << (3 * line + 2);
}

}  // namespace

void FpgaLines::drive(int line, bool level) {
    uint32_t v = m_bus.read32(0, kGpioc) | gpiocSelect(line) | gpiocDir(line);
    m_bus.write32(0, kGpioc, level ? v | gpiocData(line) : v & ~gpiocData(line));
}

void FpgaLines::release(int line) {
    m_bus.write32(0, kGpioc, m_bus.read32(0, kGpioc) & ~gpiocDir(line));
}

bool FpgaLines::level(int line) {
    return m_bus.read32(0, kGpioc) & gpiocData(line);
}

void FpgaLines::holdFpga() {
    drive(8, false);
    drive(5, true);
    sim::virtualClock().advance(1000);  // the FPGA resets and lets go of the device's lines
    drive(0, true);
    drive(2, true);
    drive(3, true);
}

void FpgaLines::releaseFpga() {
    release(0);
    release(2);
    release(3);
    drive(5, false);
    drive(8, true);
}

void sendToMcu(Bus& bus, const std::string& bytes) {
    bus.write8(2, 0x44, 0x08);  // CFG: port on
    bus.write8(2, 0x8C, 0x15);  // TRCON
    for (size_t i = 0; i < bytes.size(); ++i) {
        bus.write8(2, 0xA0, static_cast<uint8_t>(i + 1));
        bus.write8(2, 0xA4, static_cast<uint8_t>(bytes[i]));
    }
    bus.write8(2, 0x98, static_cast<uint8_t>(bytes.size()));
    bus.write8(2, 0xB0, 1);
}

}  // namespace simtest
