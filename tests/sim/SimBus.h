// Test helpers that drive a simulated card's wires directly through the rack,
// the way any host would: bridge-chip register bits for the EEPROM and the
// FPGA configuration lines, and the mailbox registers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Rack.h"
#include "tests/sim_devices/WireDrivers.h"

namespace simtest {

// Bytes of the largest configuration device: the FPGA's longest load reads them all.
constexpr uint64_t kWholeEpcs4 = 512 * 1024;

using Kind = sim::PciFunction::Kind;

// 32-bit and 8-bit register and configuration access that fail the test on
// an error.
class Bus {
public:
    Bus(sim::Rack& rack, unsigned card) : m_rack(rack), m_card(card) {}
    uint32_t read32(unsigned space, unsigned offset, Kind kind = Kind::Card) {
        return read(kind, space, offset, 32);
    }
    void write32(unsigned space, unsigned offset, uint32_t value, Kind kind = Kind::Card) {
        write(kind, space, offset, 32, value);
    }
    uint8_t read8(unsigned space, unsigned offset) { return uint8_t(read(Kind::Card, space, offset, 8)); }
    void write8(unsigned space, unsigned offset, uint8_t value) {
        write(Kind::Card, space, offset, 8, value);
    }
    uint32_t config32(unsigned offset, Kind kind = Kind::Card, unsigned number = 0);
    void configWrite32(unsigned offset, uint32_t value, Kind kind, unsigned number);
    sim::Rack& rack() { return m_rack; }
    unsigned card() const { return m_card; }

private:
    uint32_t read(Kind kind, unsigned space, unsigned offset, unsigned width);
    void write(Kind kind, unsigned space, unsigned offset, unsigned width, uint32_t value);
    sim::Rack& m_rack;
    unsigned m_card;
};

// The configuration EEPROM's Microwire pins in the PCI 9056's CNTRL (0x6C):
// clock 24, select 25, data in 26, data out 27, as devtest::MicrowireDriver
// moves them. The PCI 9056 has one data pin for both: it reads the EEPROM
// only with the input enable (bit 31) set, here from the first bit read until
// select falls, unless `inputEnable` is false.
class MicrowirePins {
public:
    explicit MicrowirePins(Bus& bus) : m_bus(bus) {}
    void drive(bool cs, bool sk, bool di, uint64_t);
    bool dataOut(uint64_t);
    bool inputEnable = true;

private:
    Bus& m_bus;
    bool m_input = false;
};

// The FPGA configuration lines through the PCI 9030's GPIOC, and the
// configuration device's commands on them. (Behind the PEX 8111: the host's
// configuration stage over the PCIe cards.)
class FpgaLines : public devtest::EpcsOnLines<FpgaLines> {
public:
    explicit FpgaLines(Bus& bus) : m_bus(bus) {}
    void drive(int line, bool level);  // makes the line an output
    void release(int line);            // makes it an input
    bool level(int line);
    void holdFpga();     // line 8 low, line 5 high: the host owns the device
    void releaseFpga();  // line 5 low, line 8 high: the FPGA loads

private:
    Bus& m_bus;
};

// The communication port: sends bytes to the microcontroller.
void sendToMcu(Bus& bus, const std::string& bytes);

}  // namespace simtest
