#include "FakeMerix.h"

#include <cstdio>
#include <cstring>

#include "libmerix32/merix32.h"

namespace fakemerix {

void Function::setConfig32(unsigned offset, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) config[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

Function MakeCard(uint16_t device, uint8_t bus, uint32_t key) {
    Function f;
    f.deviceId = device;
    f.bus = bus;
    f.setConfig32(0x00, uint32_t(device) << 16 | 0x10B5);
    f.setConfig32(0x08, 0x06800001);  // class: other bridge device
    f.setConfig32(0x2C, key);
    f.setBar(0, 0xFE800000);
    f.setBar(1, 0xE001);
    f.setBar(2, 0xFE900000);
    f.space0Length = 0x100;
    f.space2Length = 0x100;
    return f;
}

State& state() {
    static State s;
    return s;
}

void reset() {
    state() = State();
}

namespace {

struct Open {
    unsigned number;  // adapter access number
    Function* function;
};
std::map<int, Open> g_handles;
int g_nextHandle = 7;

bool Fails(Call call, unsigned number) {
    auto it = state().failing.find(call);
    return it != state().failing.end() && (it->second == 0 || it->second == number);
}

Function* Lookup(int handle, Call call) {
    auto it = g_handles.find(handle);
    if (it == g_handles.end() || !state().openHandles.count(handle)) return nullptr;
    if (Fails(call, it->second.number)) return nullptr;
    return it->second.function;
}

int OpenAs(int* handle, unsigned number, Function* function) {
    if (!function || Fails(Call::Open, number)) return -1;
    *handle = g_nextHandle++;
    g_handles[*handle] = Open{number, function};
    state().openHandles.insert(*handle);
    return 0;
}

}  // namespace
}  // namespace fakemerix

using namespace fakemerix;

extern "C" {

int vjxOpen(int* handle, unsigned number) {
    std::vector<Function>& cards = state().cards;
    Function* f = number >= 0x1001 && number - 0x1001 < cards.size() ? &cards[number - 0x1001] : nullptr;
    return OpenAs(handle, number, f);
}

int vjxOpenBridge(int* handle, unsigned number) {
    std::vector<Function>& bridges = state().bridges;
    Function* f = number >= 0x1001 && number - 0x1001 < bridges.size() ? &bridges[number - 0x1001] : nullptr;
    if (f && f->deviceId == 0) f = nullptr;
    return OpenAs(handle, number, f);
}

int vjxClose(int handle) {
    return state().openHandles.erase(handle) ? 0 : -1;
}

int vjxGetDeviceId(int handle, uint16_t* deviceId) {
    Function* f = Lookup(handle, Call::GetDeviceId);
    if (!f) return -1;
    *deviceId = f->deviceId;
    return 0;
}

int vjxGetDeviceInfo(int handle, vjxDeviceInfo* info) {
    Function* f = Lookup(handle, Call::GetDeviceInfo);
    if (!f) return -1;
    std::memset(info, 0, sizeof *info);
    info->bus = f->bus;
    info->space0Length = f->space0Length;
    info->space2Length = f->space2Length;
    return 0;
}

int vjxConfigDump(int handle, unsigned offset, unsigned count, void* buffer) {
    Function* f = Lookup(handle, Call::ConfigDump);
    if (!f || offset + count > 256) return -1;
    std::memcpy(buffer, f->config + offset, count);
    return 0;
}

int vjxReadOffset8(int handle, uint8_t space, unsigned offset, uint8_t* value) {
    Function* f = Lookup(handle, Call::Read);
    if (!f) return -1;
    *value = static_cast<uint8_t>(f->registers[uint32_t(space) << 24 | offset]);
    return 0;
}

int vjxReadOffset32(int handle, uint8_t space, unsigned offset, uint32_t* value) {
    Function* f = Lookup(handle, Call::Read);
    if (!f) return -1;
    *value = f->registers[uint32_t(space) << 24 | offset];
    return 0;
}

static int WriteReg(int handle, uint8_t space, unsigned offset, unsigned width, uint32_t value) {
    Function* f = Lookup(handle, Call::Write);
    if (!f) return -1;
    f->registers[uint32_t(space) << 24 | offset] = value;
    char text[64];
    std::snprintf(text, sizeof text, "%u %x %u %x", space, offset, width, value);
    state().writes.push_back(text);
    return 0;
}

int vjxWriteOffset8(int handle, uint8_t space, unsigned offset, uint8_t value) {
    return WriteReg(handle, space, offset, 8, value);
}

int vjxWriteOffset32(int handle, uint8_t space, unsigned offset, uint32_t value) {
    return WriteReg(handle, space, offset, 32, value);
}

int vjxGetActiveProcessCount(void) {
    return 1;
}
int vjxSetFlashActive(int) {
    return 1;
}
const char* vjxGetErrorString(void) {
    return "fake failure";
}
}
