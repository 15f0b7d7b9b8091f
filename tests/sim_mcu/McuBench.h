// A microcontroller and its mailbox on the bench, driven through the mailbox
// registers the way a host driver would, with time given explicitly.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/NvRegion.h"
#include "sim/Timing.h"
#include "sim/devices/Microcontroller.h"
#include "sim/hw/CardFpga.h"

namespace mcutest {

using namespace sim::card_regs;

constexpr uint64_t kMs = 1000;

// What an application of version "9.14" (ISP version 7) answers to "R".
const std::string kAnswer914 = std::string("\x09\x34\x31\x01\x07", 5);

// Timing with wire time and the MCU's busy times chosen by the test.
inline sim::Timing wireTiming(uint64_t resetUs = 0) {
    sim::Timing t;
    t.name = "test";
    t.wireTime = true;
    t.mcuResetUs = resetUs;
    return t;
}

// An Intel HEX record as the boot loader expects it: body and checksum.
inline std::string record(unsigned type, unsigned address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes = {uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address),
                                  uint8_t(type)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    bytes.push_back(uint8_t(0x100 - sum % 256));
    std::string out = ":";
    for (uint8_t b : bytes) out += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
    return out;
}

class Bench {
public:
    explicit Bench(sim::Timing timing = sim::Timing{}, sim::McuOptions options = {},
                   sim::LinkOptions link = {})
        : timing(std::move(timing)) {
        flash.init(0x10000, 0xFF);
        boot.init(2, 0x00);
        mcu = std::make_unique<sim::Microcontroller>(flash, boot, this->timing, options);
        box = std::make_unique<sim::Mailbox>(*mcu, this->timing, link);
    }

    // Flash with an application of that version.
    void loadApplication(const std::string& version, uint8_t isp = 7) {
        sim::firmware_image::Version v;
        sim::firmware_image::versionFromText(version, isp, &v);
        const auto image = sim::firmware_image::make(v, 0x4000);
        flash.write(0, image.data(), image.size());
    }

    void tick(uint64_t us) { now += us; }
    uint8_t get(unsigned reg) { return box->read(reg, now); }
    void set(unsigned reg, uint8_t value) { box->write(reg, value, now); }

    void openPort() {
        set(kCfg, 0x08);
        set(kTrcon, 0x15);
        readIndex = get(kRptr) % 64;
    }

    // The reset pulse of a host driver, with or without the boot request;
    // with it, the boot loader's autobaud "U" as well when it runs.
    void reset(bool bootLoader) {
        pulse(bootLoader);
        if (bootLoader && mcu->mode() == sim::McuMode::BootLoader) exchange("U");
    }
    void pulse(bool bootLoader) {
        set(kCfg, bootLoader ? 0x05 : 0x01);
        tick(50 * kMs);
        if (bootLoader) {
            set(kCfg, 0x04);
            tick(2 * kMs);
        }
        set(kCfg, 0x00);
        tick(300 * kMs);
        openPort();
    }

    // One transmission of up to 63 bytes; does not wait for its end.
    void startChunk(const std::string& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            set(kRama, uint8_t(i + 1));
            set(kRamd, uint8_t(bytes[i]));
        }
        set(kTbuf, uint8_t(bytes.size()));
        set(kTstart, 0);
    }

    // Sends any number of bytes in chunks, draining the ring while waiting
    // for the transmitter (1 ms steps).
    void send(const std::string& bytes) {
        for (size_t pos = 0; pos < bytes.size(); pos += 63) {
            waitTransmitter();
            startChunk(bytes.substr(pos, 63));
        }
    }

    void waitTransmitter() {
        for (;;) {
            pending += take();
            if (!(get(kIrqf) & 1)) return;
            tick(kMs);
        }
    }

    // Everything that arrived in the ring since the last call.
    std::string take() {
        const unsigned w = get(kRptr) % 64;
        std::string out;
        while (readIndex != w) {
            set(kRama, uint8_t(readIndex));
            out += char(get(kRamd));
            readIndex = (readIndex + 1) % 64;
        }
        return out;
    }

    // At most n bytes, in 1 ms polls, until `silenceUs` pass without a new
    // byte; by default everything until then.
    std::string read(size_t n = std::string::npos, uint64_t silenceUs = 50 * kMs) {
        for (uint64_t quiet = 0;; quiet += kMs) {
            const std::string got = take();
            pending += got;
            if (!got.empty()) quiet = 0;
            if (pending.size() >= n || quiet > silenceUs) break;
            tick(kMs);
        }
        const std::string out = pending.substr(0, n);
        pending.erase(0, out.size());
        return out;
    }
    std::string drain(uint64_t silenceUs = 50 * kMs) { return read(std::string::npos, silenceUs); }

    // Sends and collects the complete reply.
    std::string exchange(const std::string& bytes, uint64_t silenceUs = 50 * kMs) {
        send(bytes);
        return drain(silenceUs);
    }

    sim::Timing timing;
    sim::NvRegion flash, boot;
    std::unique_ptr<sim::Microcontroller> mcu;
    std::unique_ptr<sim::Mailbox> box;
    uint64_t now = 1000000;
    unsigned readIndex = 0;
    std::string pending;
};

}  // namespace mcutest
