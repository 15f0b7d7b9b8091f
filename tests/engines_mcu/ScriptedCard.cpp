#include "ScriptedCard.h"

#include <cstring>

#include "libmerix32/merix32.h"
#include "sim/hw/CardFpga.h"

namespace scripted {

Card& card() {
    static Card c;
    return c;
}

void reset() {
    card() = Card();
}

namespace {

constexpr int kHandle = 5;
constexpr unsigned kCardNumber = 0x1001;

// Configuration space of a PCI 9030 card of model "VJX PCI S".
void config(uint8_t* out) {
    std::memset(out, 0, 256);
    auto put32 = [out](unsigned offset, uint32_t v) {
        for (unsigned i = 0; i < 4; ++i) out[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(0x00, 0x903010B5);
    put32(0x08, 0x06800001);
    put32(0x10, 0xFE800000);
    put32(0x14, 0xE001);
    put32(0x18, 0xFE900000);
    put32(0x2C, 0x306810B5);
}

void transmit() {
    Card& c = card();
    std::string chunk;
    for (unsigned i = 1; i <= c.tbuf; ++i)
        chunk += static_cast<char>(c.window[i % sim::card_regs::kRingSize]);
    c.chunks.push_back(chunk);
    const std::string answer = c.respond ? c.respond(chunk) : std::string();
    for (char b : answer) {
        c.ring[c.rptr] = static_cast<uint8_t>(b);
        c.rptr = (c.rptr + 1) % sim::card_regs::kRingSize;
    }
}

}  // namespace
}  // namespace scripted

using scripted::card;

extern "C" {

int vjxOpen(int* handle, unsigned number) {
    if (number != scripted::kCardNumber) return -1;
    *handle = scripted::kHandle;
    return 0;
}
int vjxOpenBridge(int*, unsigned) {
    return -1;
}
int vjxClose(int handle) {
    return handle == scripted::kHandle ? 0 : -1;
}
int vjxGetDeviceId(int handle, uint16_t* deviceId) {
    if (handle != scripted::kHandle) return -1;
    *deviceId = 0x9030;
    return 0;
}
int vjxGetDeviceInfo(int handle, vjxDeviceInfo* info) {
    if (handle != scripted::kHandle) return -1;
    std::memset(info, 0, sizeof *info);
    info->bus = 1;
    info->space0Length = 0x100;
    info->space2Length = 0x100;
    return 0;
}
int vjxConfigDump(int handle, unsigned offset, unsigned count, void* buffer) {
    if (handle != scripted::kHandle || offset + count > 256) return -1;
    uint8_t space[256];
    scripted::config(space);
    std::memcpy(buffer, space + offset, count);
    return 0;
}
int vjxReadOffset8(int handle, uint8_t space, unsigned offset, uint8_t* value) {
    if (handle != scripted::kHandle) return -1;
    scripted::Card& c = card();
    *value = 0;
    if (space != 2) return 0;
    switch (offset) {
        case sim::card_regs::kVersion:
            *value = 3;
            break;
        case sim::card_regs::kRptr:
            *value = static_cast<uint8_t>(c.rptr);
            break;
        case sim::card_regs::kRamd:
            *value = c.ring[c.rama % sim::card_regs::kRingSize];
            break;
        default:
            break;  // IRQF: never busy
    }
    return 0;
}
int vjxReadOffset32(int handle, uint8_t, unsigned, uint32_t* value) {
    if (handle != scripted::kHandle) return -1;
    *value = 0;
    return 0;
}
int vjxWriteOffset8(int handle, uint8_t space, unsigned offset, uint8_t value) {
    if (handle != scripted::kHandle) return -1;
    scripted::Card& c = card();
    if (space != 2) return 0;
    switch (offset) {
        case sim::card_regs::kRama:
            c.rama = value;
            break;
        case sim::card_regs::kRamd:
            c.window[c.rama % sim::card_regs::kRingSize] = value;
            break;
        case sim::card_regs::kTbuf:
            c.tbuf = value;
            break;
        case sim::card_regs::kTstart:
            scripted::transmit();
            break;
        default:
            break;
    }
    return 0;
}
int vjxWriteOffset32(int handle, uint8_t, unsigned, uint32_t) {
    return handle == scripted::kHandle ? 0 : -1;
}
int vjxGetActiveProcessCount(void) {
    return 1;
}
int vjxSetFlashActive(int) {
    return 1;
}
const char* vjxGetErrorString(void) {
    return "scripted card";
}
}
