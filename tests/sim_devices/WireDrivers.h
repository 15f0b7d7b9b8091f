// Test drivers that move the simulated parts' pins the way the parts'
// datasheets describe, independent of the host engines.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/devices/FpgaBlock.h"
#include "sim/devices/MicrowireEeprom.h"

namespace devtest {

// Microwire: DI sampled on the rising clock edge while CS is high. `Pins`
// takes drive(cs, sk, di, now) and answers dataOut(now): the part itself, or
// the bridge chip's register bits in front of it.
template <class Pins>
struct MicrowireDriver {
    explicit MicrowireDriver(Pins& pins) : e(pins) {}
    Pins& e;
    uint64_t now = 1000;
    bool cs = false, sk = false, di = false;

    void apply() { e.drive(cs, sk, di, now); }
    void setCs(bool v) {
        cs = v;
        apply();
    }
    void clock() {
        sk = true;
        apply();
        sk = false;
        apply();
    }
    void send(unsigned value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            di = (value >> i) & 1;
            apply();
            clock();
        }
        di = false;
        apply();
    }
    bool readBit() {
        const bool b = e.dataOut(now);
        clock();
        return b;
    }
    unsigned readBits(int bits) {
        unsigned v = 0;
        for (int i = 0; i < bits; ++i) v = v << 1 | readBit();
        return v;
    }
    // Start bit, two opcode bits, eight address bits.
    void command(unsigned op, unsigned address) {
        setCs(true);
        send(1, 1);
        send(op, 2);
        send(address, 8);
    }
    void ewen() {
        command(0, 0xC0);
        setCs(false);
    }
    void ewds() {
        command(0, 0x00);
        setCs(false);
    }
    void write(unsigned address, uint16_t value) {
        command(1, address);
        send(value, 16);
        setCs(false);
    }
    // Reads `count` words from `address`; false if the dummy bit was not 0.
    bool read(unsigned address, std::vector<uint16_t>& out, size_t count) {
        command(2, address);
        const bool dummy = readBit();
        out.clear();
        for (size_t i = 0; i < count; ++i) out.push_back(uint16_t(readBits(16)));
        setCs(false);
        return !dummy;
    }
};
using MicrowireHost = MicrowireDriver<sim::MicrowireEeprom>;

// EPCS: bits in on the rising DCLK edge, DATA valid after the falling edge.
// Each bit: clock low, put the bit out, read DATA, clock high.
struct EpcsHost {
    explicit EpcsHost(sim::FpgaBlock& block) : f(block) {}
    sim::FpgaBlock& f;
    sim::LineDrive d;
    uint64_t now = 1000;

    void drive(int line, bool level) {
        d.driven[line] = true;
        d.level[line] = level;
        f.applyLines(d, now);
    }
    // Hold the FPGA off (line 8 low, then line 5 high) for longer than its
    // minimum hold and its time to let go of the device's lines, then take
    // the device.
    void take() {
        drive(8, false);
        drive(5, true);
        now += 5;
        for (int line : {0, 2, 3}) drive(line, true);
    }
    void release(int line) {
        d.driven[line] = false;
        f.applyLines(d, now);
    }
    // Give everything back: all lines inputs.
    void letGo() {
        d = sim::LineDrive();
        f.applyLines(d, now);
    }
    void select() {
        drive(2, false);
        drive(3, false);
    }
    void deselect() {
        drive(2, false);
        drive(3, true);
    }
    uint8_t byte(uint8_t out, bool lsbFirst = false) {
        uint8_t in = 0;
        for (int i = 0; i < 8; ++i) {
            const int bit = lsbFirst ? i : 7 - i;
            drive(2, false);
            drive(0, (out >> bit) & 1);
            if (f.lineLevel(1, now)) in |= uint8_t(1u << bit);
            drive(2, true);
        }
        return in;
    }
    void address(uint32_t a) {
        for (int shift : {16, 8, 0}) byte(uint8_t(a >> shift));
    }
    void simple(uint8_t cmd) {
        select();
        byte(cmd);
        deselect();
    }
    uint8_t id() {
        select();
        byte(0xAB);
        address(0);
        const uint8_t v = byte(0);
        deselect();
        return v;
    }
    uint8_t status() {
        select();
        byte(0x05);
        const uint8_t v = byte(0);
        deselect();
        return v;
    }
    std::vector<uint8_t> read(uint32_t a, size_t n, bool lsbFirst = false) {
        select();
        byte(0x03);
        address(a);
        std::vector<uint8_t> v;
        for (size_t i = 0; i < n; ++i) v.push_back(byte(0, lsbFirst));
        deselect();
        return v;
    }
    void program(uint32_t a, const std::vector<uint8_t>& data, bool lsbFirst = false) {
        simple(0x06);
        select();
        byte(0x02);
        address(a);
        for (uint8_t b : data) byte(b, lsbFirst);
        deselect();
    }
};

}  // namespace devtest
