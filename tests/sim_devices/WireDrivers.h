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

// A 25-series serial memory's commands (the EPCS, the serial flash) over a
// port that selects it and shifts bytes, most significant bit first unless
// the data of a host sending least significant bit first.
struct SpiPort {
    virtual ~SpiPort() = default;
    virtual void select() = 0;
    virtual void deselect() = 0;
    virtual uint8_t shift(uint8_t out, bool lsbFirst) = 0;
    virtual void strayBit() = 0;  // one clock off the byte boundary
    uint64_t now = 1000;
    int addressBytes = 3;
    uint8_t readOp = 0x03, programOp = 0x02, eraseOp = 0xD8;
    bool readDummy = false;

    uint8_t byte(uint8_t out, bool lsbFirst = false) { return shift(out, lsbFirst); }
    void address(uint32_t a) {
        for (int i = addressBytes - 1; i >= 0; --i) byte(uint8_t(a >> 8 * i));
    }
    std::vector<uint8_t> command(const std::vector<uint8_t>& out, size_t receive) {
        select();
        std::vector<uint8_t> in;
        for (uint8_t b : out) byte(b);
        for (size_t i = 0; i < receive; ++i) in.push_back(byte(0));
        deselect();
        return in;
    }
    void simple(uint8_t op) { command({op}, 0); }
    uint8_t status() { return command({0x05}, 1)[0]; }
    std::vector<uint8_t> read(uint32_t a, size_t n, bool lsbFirst = false) {
        select();
        byte(readOp);
        address(a);
        if (readDummy) byte(0);
        std::vector<uint8_t> v;
        for (size_t i = 0; i < n; ++i) v.push_back(byte(0, lsbFirst));
        deselect();
        return v;
    }
    // A page program, after a write enable unless `enable` is false.
    void program(uint32_t a, const std::vector<uint8_t>& data, bool lsbFirst = false, bool enable = true) {
        if (enable) simple(0x06);
        select();
        byte(programOp);
        address(a);
        for (uint8_t b : data) byte(b, lsbFirst);
        deselect();
    }
    void erase(uint32_t a, bool enable = true) {
        if (enable) simple(0x06);
        select();
        byte(eraseOp);
        address(a);
        deselect();
    }
    // Polls the status every `step` us; how long until WIP cleared (limit if never).
    uint64_t busyFor(uint64_t step, uint64_t limit) {
        const uint64_t start = now;
        while (status() & 1) {
            if (now - start >= limit) return limit;
            now += step;
        }
        return now - start;
    }
};

// EPCS on its four lines (ASDI 0, DATA 1, DCLK 2, nCS 3): bits in on the
// rising DCLK edge, DATA valid after the falling edge. Each bit: clock low,
// put the bit out, read DATA, clock high. `Lines` moves the lines:
// drive(line, level) and level(line), on the FPGA block itself or through a
// bridge chip's registers.
template <class Lines>
struct EpcsOnLines : SpiPort {
    Lines& lines() { return static_cast<Lines&>(*this); }
    void select() override {
        lines().drive(2, false);
        lines().drive(3, false);
    }
    void deselect() override {
        lines().drive(2, false);
        lines().drive(3, true);
    }
    uint8_t shift(uint8_t out, bool lsbFirst) override {
        uint8_t in = 0;
        for (int i = 0; i < 8; ++i) {
            const int bit = lsbFirst ? i : 7 - i;
            lines().drive(2, false);
            lines().drive(0, (out >> bit) & 1);
            if (lines().level(1)) in |= uint8_t(1u << bit);
            lines().drive(2, true);
        }
        return in;
    }
    void strayBit() override {
        lines().drive(2, false);
        lines().drive(0, true);
        lines().drive(2, true);
    }
    uint8_t id() { return command({0xAB, 0, 0, 0}, 1)[0]; }
};

// The EPCS on the FPGA block's lines directly.
struct EpcsHost : EpcsOnLines<EpcsHost> {
    explicit EpcsHost(sim::FpgaBlock& block) : f(block) {}
    sim::FpgaBlock& f;
    sim::LineDrive d;

    void drive(int line, bool level) {
        d.driven[line] = true;
        d.level[line] = level;
        f.applyLines(d, now);
    }
    bool level(int line) { return f.lineLevel(line, now); }
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
};

// The PCIe-core card's serial flash through the FPGA's SPICTL port, SPI mode
// 0: SPICTL bits as the card's FPGA documents them (golden values).
constexpr uint8_t kClk = 0x01, kMosi = 0x02, kAccess = 0x04, kDeselect = 0x10, kMiso = 0x20;

struct SpictlHost : SpiPort {
    explicit SpictlHost(sim::FpgaBlock& block) : f(block) {
        addressBytes = 4;
        readOp = 0x0C;  // 4-byte fast read, one dummy byte
        readDummy = true;
        programOp = 0x12;
        eraseOp = 0xDC;
    }
    sim::FpgaBlock& f;
    uint8_t reg = 0;

    void put(uint8_t v) { f.writeSpictl(reg = v, now); }
    void open() { put(kAccess | 0x08 | kDeselect); }
    void select() override { put(uint8_t((reg & ~(kDeselect | kClk)) | kAccess)); }
    void deselect() override { put(uint8_t((reg & ~kClk) | kDeselect)); }
    uint8_t shift(uint8_t out, bool lsbFirst) override {
        uint8_t in = 0;
        for (int i = 0; i < 8; ++i) {
            const int bit = lsbFirst ? i : 7 - i;
            put(uint8_t((reg & ~(kMosi | kClk)) | ((out >> bit) & 1 ? kMosi : 0)));
            put(uint8_t(reg | kClk));
            if (f.readSpictl(now) & kMiso) in |= uint8_t(1u << bit);
            put(uint8_t(reg & ~kClk));
        }
        return in;
    }
    void strayBit() override {
        put(uint8_t(reg & ~kMosi));
        put(uint8_t(reg | kClk));
    }
    std::vector<uint8_t> jedec() { return command({0x9F}, 3); }
    uint8_t readRegister(uint32_t a) {
        return command({0x65, uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a), 0}, 1)[0];
    }
};

}  // namespace devtest
