#include "KernelDriver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/Rack.h"

namespace sim {
namespace kernel {
namespace {

// ---- Record layouts (byte offsets) ----------------------------------------------

// WD_PCI_SLOT: bus, slot, function (u32 each). WD_PCI_ID: vendor, device.
constexpr uint32_t kSlotBytes = 12;
constexpr uint32_t kIdBytes = 8;

namespace version {
constexpr uint32_t kSize = 132, kVer = 0, kText = 4, kTextBytes = 128;
}
namespace scan {
constexpr uint32_t kSize = 2016, kSearchVendor = 0, kSearchDevice = 4, kCount = 8, kIds = 12, kSlots = 812;
constexpr uint32_t kMaxCards = 100;
}  // namespace scan
namespace dump {
constexpr uint32_t kSize = 40, kSlot = 0, kBuffer = 16, kOffset = 24, kBytes = 28, kIsRead = 32, kResult = 36;
constexpr uint32_t kOk = 0, kBadSlot = 1, kBadOffset = 2;
}  // namespace dump
// WD_ITEM, 56 bytes; the union from +8.
namespace item {
constexpr uint32_t kSize = 56, kType = 0;
constexpr uint32_t kNone = 0, kInterrupt = 1, kMemory = 2, kIo = 3;
constexpr uint32_t kMemPhysical = 8, kMemBytes = 16, kMemTrans = 24, kMemUser = 32, kMemBar = 40;
constexpr uint32_t kIoAddr = 8, kIoBytes = 16, kIoBar = 20;
constexpr uint32_t kIntNumber = 8;
}  // namespace item
// WD_CARD: item count, pad, 20 items.
namespace card {
constexpr uint32_t kSize = 1128, kItems = 0, kItem = 8, kMaxItems = 20;
}
namespace info {
constexpr uint32_t kSize = 1144, kSlot = 0, kCard = 16;
}
namespace reg {
constexpr uint32_t kSize = 1272, kCard = 0, kCheckOnly = 1128, kHandle = 1132;
}
namespace transfer {
constexpr uint32_t kSize = 32, kPort = 0, kCmd = 8, kBytes = 12, kBuffer = 24;
constexpr uint32_t kReadByte = 20, kReadDword = 22, kWriteByte = 23, kWriteDword = 25;
}  // namespace transfer
namespace interrupt {
constexpr uint32_t kSize = 72, kHandle = 0;
}
namespace debug {
constexpr uint32_t kSize = 264, kText = 0, kTextBytes = 256, kLevel = 256;
}

uint32_t get32(const uint8_t* r, uint32_t at) {
    uint32_t v;
    std::memcpy(&v, r + at, 4);
    return v;
}
uint64_t get64(const uint8_t* r, uint32_t at) {
    uint64_t v;
    std::memcpy(&v, r + at, 8);
    return v;
}
void put32(uint8_t* r, uint32_t at, uint32_t v) {
    std::memcpy(r + at, &v, 4);
}
void put64(uint8_t* r, uint32_t at, uint64_t v) {
    std::memcpy(r + at, &v, 8);
}

// Configuration space of a conventional PCI function, and of a PCI Express
// function (the PEX 8111's upstream port), whose extended space this bridge
// leaves empty.
constexpr uint32_t kConfigBytes = 256;
constexpr uint32_t kExtendedConfigBytes = 4096;

// BAR registers in the type-0 header; a type-1 header (the bridge) has two.
constexpr unsigned kBar0 = 0x10;
constexpr unsigned kInterruptLine = 0x3C;

constexpr uint64_t kPageBytes = 4096;
constexpr uint64_t kMapMask = 0xFFFFFF0000000000ull;
constexpr unsigned kHandleShift = 28, kBarShift = 24;
constexpr uint32_t kMaxHandle = 0xFFF;
constexpr uint32_t kOffsetMask = 0xFFFFFF;

std::string hex(uint64_t v) {
    char b[24];
    snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(v));
    return b;
}

}  // namespace

// ---- The bus as the driver sees it ---------------------------------------------------

std::vector<KernelDriver::Function> KernelDriver::busOrder() const {
    std::vector<Function> all;
    for (auto kind : {PciFunction::Kind::Card, PciFunction::Kind::Bridge})
        for (unsigned n = 1; n <= m_rack.functionCount(kind); ++n)
            all.push_back({kind, n, m_rack.function(kind, n)});
    std::stable_sort(all.begin(), all.end(), [](const Function& a, const Function& b) {
        PciAddress x = a.fn->address(), y = b.fn->address();
        if (x.bus != y.bus) return x.bus < y.bus;
        if (x.slot != y.slot) return x.slot < y.slot;
        return x.function < y.function;
    });
    return all;
}

bool KernelDriver::find(uint32_t bus, uint32_t slot, uint32_t function, Function* out) const {
    for (const Function& f : busOrder()) {
        PciAddress a = f.fn->address();
        if (a.bus == bus && a.slot == slot && a.function == function) {
            *out = f;
            return true;
        }
    }
    return false;
}

// The function as the rack has it now (a power cycle builds it anew).
KernelDriver::Function KernelDriver::fresh(const Function& f) const {
    return {f.kind, f.number, m_rack.function(f.kind, f.number)};
}

bool KernelDriver::same(const Function& a, const Function& b) {
    return a.kind == b.kind && a.number == b.number;
}

// A card whose function cannot be reached (open=fail) is on the bus, yet
// its configuration space and registers do not answer the driver.
bool KernelDriver::reachable(const Function& f) const {
    Card* card = m_rack.cardOf(f.kind, f.number);
    return !(card && f.kind == PciFunction::Kind::Card && card->openFails());
}

// The driver knows a function's resources from the bus enumeration, without
// a configuration cycle of its own.
uint32_t KernelDriver::bar(const Function& f, unsigned index) const {
    unsigned count = f.kind == PciFunction::Kind::Bridge ? 2 : 6;
    if (index >= count) return 0;
    return f.fn->configRead(kBar0 + 4 * index, 32, 0);
}

// ---- Requests --------------------------------------------------------------------------

void KernelDriver::control(uint32_t code, uint8_t* r, uint32_t size, uint32_t* status) {
    struct Entry {
        uint32_t code, size;
        void (KernelDriver::*handler)(uint8_t*, uint32_t*);
    };
    static const Entry kTable[] = {
        {ioctl::kVersion, version::kSize, &KernelDriver::version},
        {ioctl::kPciScanCards, scan::kSize, &KernelDriver::scan},
        {ioctl::kPciCardInfo, info::kSize, &KernelDriver::cardInfo},
        {ioctl::kPciConfigDump, dump::kSize, &KernelDriver::configDump},
        {ioctl::kCardRegister, reg::kSize, &KernelDriver::registerCard},
        {ioctl::kCardUnregister, reg::kSize, &KernelDriver::unregisterCard},
        {ioctl::kTransfer, transfer::kSize, &KernelDriver::transfer},
        {ioctl::kInterruptDisable, interrupt::kSize, &KernelDriver::interruptDisable},
        {ioctl::kDebugAdd, debug::kSize, &KernelDriver::debugAdd},
    };
    for (const Entry& e : kTable)
        if (e.code == code) {
            if (size != e.size || !r) break;
            (this->*e.handler)(r, status);
            return;
        }
    // Unknown codes, and the event records this driver's clients never send.
    *status = status::kInvalidIoctl;
}

void KernelDriver::version(uint8_t* r, uint32_t* status) {
    put32(r, version::kVer, m_version);
    std::memset(r + version::kText, 0, version::kTextBytes);
    snprintf(reinterpret_cast<char*>(r + version::kText), version::kTextBytes, "%u.%u.%u", m_version / 100,
             m_version % 100 / 10, m_version % 10);
    *status = status::kSuccess;
}

void KernelDriver::scan(uint8_t* r, uint32_t* status) {
    const uint32_t vendor = get32(r, scan::kSearchVendor), device = get32(r, scan::kSearchDevice);
    uint32_t count = 0;
    for (const Function& f : busOrder()) {
        if (count == scan::kMaxCards) break;
        const uint32_t id = f.fn->configRead(0, 32, 0);
        const uint32_t v = id & 0xFFFF, d = id >> 16;
        if ((vendor && vendor != v) || (device && device != d)) continue;
        put32(r, scan::kIds + count * kIdBytes, v);
        put32(r, scan::kIds + count * kIdBytes + 4, d);
        PciAddress a = f.fn->address();
        put32(r, scan::kSlots + count * kSlotBytes, a.bus);
        put32(r, scan::kSlots + count * kSlotBytes + 4, a.slot);
        put32(r, scan::kSlots + count * kSlotBytes + 8, a.function);
        ++count;
    }
    put32(r, scan::kCount, count);
    *status = status::kSuccess;
}

void KernelDriver::cardInfo(uint8_t* r, uint32_t* status) {
    Function f;
    if (!find(get32(r, info::kSlot), get32(r, info::kSlot + 4), get32(r, info::kSlot + 8), &f)) {
        *status = status::kDeviceNotFound;
        return;
    }
    uint8_t* c = r + info::kCard;
    std::memset(c, 0, card::kSize);
    uint32_t items = 0;
    for (unsigned b = 0; b < 6; ++b) {
        const uint32_t value = bar(f, b);
        const uint64_t length = f.fn->spaceLength(b);
        if (value == 0 || length == 0) continue;
        uint8_t* it = c + card::kItem + items * item::kSize;
        if (value & 1) {
            put32(it, item::kType, item::kIo);
            put64(it, item::kIoAddr, value & ~0x3u);
            put32(it, item::kIoBytes, static_cast<uint32_t>(length));
            put32(it, item::kIoBar, b);
        } else {
            put32(it, item::kType, item::kMemory);
            put64(it, item::kMemPhysical, value & ~0xFu);
            put64(it, item::kMemBytes, length);
            put64(it, item::kMemTrans, value & ~0xFu);
            put64(it, item::kMemUser, 0);
            put32(it, item::kMemBar, b);
        }
        ++items;
    }
    const uint32_t line = f.fn->configRead(kInterruptLine, 8, 0);
    if (line != 0 && line != 0xFF) {
        uint8_t* it = c + card::kItem + items * item::kSize;
        put32(it, item::kType, item::kInterrupt);
        put32(it, item::kIntNumber, line);
        ++items;
    }
    put32(c, card::kItems, items);
    *status = status::kSuccess;
}

void KernelDriver::configDump(uint8_t* r, uint32_t* status) {
    const uint64_t buffer = get64(r, dump::kBuffer);
    const uint32_t offset = get32(r, dump::kOffset), bytes = get32(r, dump::kBytes);
    const bool isRead = get32(r, dump::kIsRead) != 0;
    uint8_t* data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(buffer));
    if (!data && bytes) {
        *status = status::kInvalidParameter;
        return;
    }
    *status = status::kSuccess;
    Function f;
    if (!find(get32(r, dump::kSlot), get32(r, dump::kSlot + 4), get32(r, dump::kSlot + 8), &f)) {
        // No function answers there: a read gives all ones, as on the bus.
        if (isRead && bytes) std::memset(data, 0xFF, bytes);
        put32(r, dump::kResult, dump::kBadSlot);
        return;
    }
    const uint32_t limit = f.kind == PciFunction::Kind::Bridge ? kExtendedConfigBytes : kConfigBytes;
    if (offset >= limit || bytes > limit - offset) {
        put32(r, dump::kResult, dump::kBadOffset);
        return;
    }
    if (!reachable(f)) {
        *status = status::kError;
        return;
    }
    // The header goes through the rack (traced, timed); the extended space
    // behind it holds no capability.
    const uint32_t inHeader = offset < kConfigBytes ? std::min(bytes, kConfigBytes - offset) : 0;
    std::string error;
    bool ok = true;
    if (inHeader) {
        ok = isRead ? m_rack.configRead(f.kind, f.number, offset, inHeader, data, &error)
                    : m_rack.configWrite(f.kind, f.number, offset, inHeader, data, &error);
    }
    if (isRead && bytes > inHeader) std::memset(data + inHeader, 0, bytes - inHeader);
    if (!ok || !m_rack.intact(nullptr)) {
        *status = status::kError;
        return;
    }
    put32(r, dump::kResult, dump::kOk);
}

void KernelDriver::registerCard(uint8_t* r, uint32_t* status) {
    uint8_t* c = r + reg::kCard;
    const uint32_t items = get32(c, card::kItems);
    if (items > card::kMaxItems) {
        *status = status::kInvalidParameter;
        return;
    }
    const bool checkOnly = get32(r, reg::kCheckOnly) != 0;
    // Every resource must be one of a single function on the bus.
    Registration registration;
    std::vector<uint32_t> interrupts;
    const std::vector<Function> bus = busOrder();
    auto owner = [&](uint32_t type, uint64_t address, uint64_t length, uint32_t barIndex) -> const Function* {
        for (const Function& f : bus) {
            const uint32_t value = bar(f, barIndex);
            if (value == 0 || ((value & 1) != 0) != (type == item::kIo)) continue;
            const uint64_t base = type == item::kIo ? (value & ~0x3u) : (value & ~0xFu);
            if (base == address && length == f.fn->spaceLength(barIndex)) return &f;
        }
        return nullptr;
    };
    for (uint32_t i = 0; i < items; ++i) {
        const uint8_t* it = c + card::kItem + i * item::kSize;
        const uint32_t type = get32(it, item::kType);
        const Function* f = nullptr;
        if (type == item::kNone) continue;
        if (type == item::kMemory) {
            f = owner(type, get64(it, item::kMemPhysical), get64(it, item::kMemBytes),
                      get32(it, item::kMemBar));
        } else if (type == item::kIo) {
            f = owner(type, get64(it, item::kIoAddr), get32(it, item::kIoBytes), get32(it, item::kIoBar));
        } else if (type == item::kInterrupt) {
            interrupts.push_back(get32(it, item::kIntNumber));  // checked once the function is known
            continue;
        } else {
            *status = status::kInvalidParameter;
            return;
        }
        if (!f || (registration.hasFunction && !same(*f, registration.function))) {
            *status = status::kDeviceNotFound;
            return;
        }
        registration.hasFunction = true;
        registration.function = *f;
        const uint32_t barIndex = get32(it, type == item::kMemory ? item::kMemBar : item::kIoBar);
        (type == item::kMemory ? registration.mappedBars : registration.ioBars) |= 1u << barIndex;
    }
    for (uint32_t number : interrupts) {
        const uint32_t line =
            registration.hasFunction ? fresh(registration.function).fn->configRead(kInterruptLine, 8, 0) : 0;
        if (!registration.hasFunction || number != line) {
            *status = status::kInvalidParameter;
            return;
        }
    }
    if (registration.hasFunction) {
        if (!reachable(registration.function)) {
            *status = status::kError;
            return;
        }
        for (const auto& [handle, other] : m_registered)
            if (other.hasFunction && same(other.function, registration.function)) {
                *status = status::kResourceOverlap;
                return;
            }
    }
    if (checkOnly) {
        *status = status::kSuccess;
        return;
    }
    if (m_registered.size() >= kMaxHandle) {
        *status = status::kError;
        return;
    }
    while (m_registered.count(m_nextHandle) || m_nextHandle == 0 || m_nextHandle > kMaxHandle)
        m_nextHandle = m_nextHandle >= kMaxHandle ? 1 : m_nextHandle + 1;
    const uint32_t handle = m_nextHandle++;
    for (uint32_t i = 0; i < items; ++i) {
        uint8_t* it = c + card::kItem + i * item::kSize;
        if (get32(it, item::kType) != item::kMemory) continue;
        const uint64_t barIndex = get32(it, item::kMemBar);
        put64(it, item::kMemUser, kMapBase | uint64_t{handle} << kHandleShift | barIndex << kBarShift);
    }
    m_registered[handle] = registration;
    put32(r, reg::kHandle, handle);
    *status = status::kSuccess;
}

void KernelDriver::unregisterCard(uint8_t* r, uint32_t* status) {
    auto at = m_registered.find(get32(r, reg::kHandle));
    if (at == m_registered.end()) {
        *status = status::kInvalidHandle;
        return;
    }
    m_registered.erase(at);
    *status = status::kSuccess;
}

void KernelDriver::transfer(uint8_t* r, uint32_t* status) {
    const uint64_t port = get64(r, transfer::kPort);
    const uint32_t cmd = get32(r, transfer::kCmd), bytes = get32(r, transfer::kBytes);
    uint8_t* data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(get64(r, transfer::kBuffer)));
    unsigned width = 0;
    bool write = false;
    switch (cmd) {
        case transfer::kReadByte:
            width = 8;
            break;
        case transfer::kReadDword:
            width = 32;
            break;
        case transfer::kWriteByte:
            width = 8, write = true;
            break;
        case transfer::kWriteDword:
            width = 32, write = true;
            break;
        default:
            break;
    }
    if (!width || bytes != width / 8 || !data) {
        *status = status::kInvalidParameter;
        return;
    }
    // The port must lie in an I/O range of a registered card.
    for (const auto& [handle, reg] : m_registered) {
        if (!reg.hasFunction) continue;
        const Function f = fresh(reg.function);
        for (unsigned b = 0; b < 6; ++b) {
            if (!(reg.ioBars & (1u << b))) continue;
            const uint64_t base = bar(f, b) & ~0x3u, length = f.fn->spaceLength(b);
            if (port < base || port + bytes > base + length) continue;
            const unsigned offset = static_cast<unsigned>(port - base);
            std::string error;
            uint32_t value = 0;
            bool ok;
            if (write) {
                std::memcpy(&value, data, bytes);
                ok = m_rack.write(f.kind, f.number, b, offset, width, value, &error);
            } else {
                ok = m_rack.read(f.kind, f.number, b, offset, width, &value, &error);
                if (ok) std::memcpy(data, &value, bytes);
            }
            *status = ok && m_rack.intact(nullptr) ? status::kSuccess : status::kError;
            return;
        }
    }
    *status = status::kInvalidParameter;
}

void KernelDriver::interruptDisable(uint8_t*, uint32_t* status) {
    // This driver's clients enable no interrupt, so there is none to disable.
    *status = status::kInterruptNotEnabled;
}

void KernelDriver::debugAdd(uint8_t* r, uint32_t* status) {
    const char* text = reinterpret_cast<const char*>(r + debug::kText);
    m_debug.push_back({get32(r, debug::kLevel), std::string(text, strnlen(text, debug::kTextBytes))});
    *status = status::kSuccess;
}

// ---- Mapped memory ----------------------------------------------------------------------

void KernelDriver::accessViolation(uint64_t address, const char* why) const {
    fprintf(stderr, "vjxsim: access violation at %s: %s\n", hex(address).c_str(), why);
    fflush(stderr);
    abort();
}

bool KernelDriver::decode(uint64_t address, unsigned width, Function* f, unsigned* barIndex, uint32_t* offset,
                          bool* onBus) {
    if ((address & kMapMask) != kMapBase) accessViolation(address, "not an address the driver mapped");
    auto at = m_registered.find(static_cast<uint32_t>(address >> kHandleShift) & kMaxHandle);
    *barIndex = static_cast<unsigned>(address >> kBarShift) & 0xF;
    *offset = static_cast<uint32_t>(address) & kOffsetMask;
    if (at == m_registered.end() || !at->second.hasFunction || !(at->second.mappedBars & (1u << *barIndex)))
        accessViolation(address, "no card memory mapped there");
    *f = fresh(at->second.function);
    // The mapping covers whole pages; behind the BAR inside the last page no
    // target answers.
    const uint64_t length = f->fn->spaceLength(*barIndex);
    const uint64_t mapped = (length + kPageBytes - 1) / kPageBytes * kPageBytes;
    if (*offset + uint64_t{width / 8} > mapped) accessViolation(address, "past the card memory mapped there");
    *onBus = *offset + uint64_t{width / 8} <= length && *offset % (width / 8) == 0;
    return true;
}

uint32_t KernelDriver::load(uint64_t address, unsigned width) {
    Function f;
    unsigned b;
    uint32_t offset;
    bool onBus;
    decode(address, width, &f, &b, &offset, &onBus);
    const uint32_t none = width == 8 ? 0xFF : 0xFFFFFFFF;
    if (!onBus || !reachable(f)) return none;
    uint32_t value = none;
    std::string error;
    if (!m_rack.read(f.kind, f.number, b, offset, width, &value, &error)) return none;
    return value;
}

void KernelDriver::store(uint64_t address, unsigned width, uint32_t value) {
    Function f;
    unsigned b;
    uint32_t offset;
    bool onBus;
    decode(address, width, &f, &b, &offset, &onBus);
    if (!onBus || !reachable(f)) return;
    std::string error;
    m_rack.write(f.kind, f.number, b, offset, width, value, &error);
}

bool KernelDriver::reenumerate() {
    return m_rack.reenumerate();
}

}  // namespace kernel
}  // namespace sim
