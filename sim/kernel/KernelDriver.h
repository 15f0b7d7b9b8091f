// The kernel driver of the Windows program, simulated over a rack: the
// device requests of the driver's user-mode interface, answered from the
// records' bytes as the driver reads and fills them, the card memory it
// maps into the process, and the machine's configuration manager and
// shutdown as the program meets them.
//
// The records are laid out here on their own, as byte offsets (x86-64,
// little-endian): the program's adapter declares them apart, so that a
// wrong offset on one side is never mirrored by the other.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/PciFunction.h"

namespace sim {
class Rack;
namespace kernel {

// Request codes and status words of the driver.
namespace ioctl {
constexpr uint32_t kVersion = 0x95383443;
constexpr uint32_t kPciScanCards = 0x9538368F;
constexpr uint32_t kPciCardInfo = 0x953837A3;
constexpr uint32_t kPciConfigDump = 0x9538346B;
constexpr uint32_t kCardRegister = 0x9538379B;
constexpr uint32_t kCardUnregister = 0x9538379F;
constexpr uint32_t kTransfer = 0x95383633;
constexpr uint32_t kInterruptDisable = 0x953836EF;
constexpr uint32_t kEventUnregister = 0x953837C3;
constexpr uint32_t kDebugAdd = 0x95383593;
}  // namespace ioctl

namespace status {
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kError = 0x20000000;
constexpr uint32_t kInvalidHandle = 0x20000001;
constexpr uint32_t kInterruptNotEnabled = 0x2000000D;
constexpr uint32_t kResourceOverlap = 0x2000000E;
constexpr uint32_t kDeviceNotFound = 0x2000000F;
constexpr uint32_t kInvalidParameter = 0x2000001B;
constexpr uint32_t kInvalidIoctl = 0x2000001F;
}  // namespace status

// The driver's version: major * 100 + minor (the text "12.3.0" for 1230).
constexpr uint32_t kVersion = 1230;

// Mapped card memory: user-mode addresses the driver hands out are this base
// plus the registration (bits 28-39), the BAR (bits 24-27) and the offset.
// They are numbers only the simulated loads and stores decode.
constexpr uint64_t kMapBase = 0x00007E0000000000ull;

// A message the program sent to the driver's debug monitor.
struct DebugMessage {
    uint32_t level;  // 1 error, 4 trace
    std::string text;
};

class KernelDriver {
public:
    // `version`: the installed driver's, major * 100 + minor.
    explicit KernelDriver(Rack& rack, uint32_t version = kVersion) : m_rack(rack), m_version(version) {}

    // One device request on an open device: the record is read and filled
    // in place, the status word set.
    void control(uint32_t code, uint8_t* record, uint32_t size, uint32_t* status);

    // Loads and stores at an address a registration handed out. An address
    // that no registration maps is an access violation: the process ends.
    uint32_t load(uint64_t address, unsigned width);
    void store(uint64_t address, unsigned width, uint32_t value);

    // The configuration manager asked to enumerate the bus again.
    bool reenumerate();

    const std::vector<DebugMessage>& debugMessages() const { return m_debug; }
    // Cards registered now.
    size_t registrations() const { return m_registered.size(); }

private:
    struct Function {
        PciFunction::Kind kind;
        unsigned number;  // within its kind, as the rack numbers it
        PciFunction* fn;  // valid until the rack builds its cards anew
    };
    struct Registration {
        bool hasFunction = false;
        Function function{};
        uint32_t mappedBars = 0;  // bit n: memory BAR n mapped into the process
        uint32_t ioBars = 0;      // bit n: I/O BAR n open to single transfers
    };

    std::vector<Function> busOrder() const;
    bool find(uint32_t bus, uint32_t slot, uint32_t function, Function* out) const;
    bool reachable(const Function& f) const;
    Function fresh(const Function& f) const;
    static bool same(const Function& a, const Function& b);
    uint32_t bar(const Function& f, unsigned index) const;

    void version(uint8_t* r, uint32_t* status);
    void scan(uint8_t* r, uint32_t* status);
    void cardInfo(uint8_t* r, uint32_t* status);
    void configDump(uint8_t* r, uint32_t* status);
    void registerCard(uint8_t* r, uint32_t* status);
    void unregisterCard(uint8_t* r, uint32_t* status);
    void transfer(uint8_t* r, uint32_t* status);
    void interruptDisable(uint8_t* r, uint32_t* status);
    void debugAdd(uint8_t* r, uint32_t* status);

    bool decode(uint64_t address, unsigned width, Function* f, unsigned* barIndex, uint32_t* offset,
                bool* onBus);
    [[noreturn]] void accessViolation(uint64_t address, const char* why) const;

    Rack& m_rack;
    uint32_t m_version;
    std::map<uint32_t, Registration> m_registered;  // by card handle
    uint32_t m_nextHandle = 1;
    std::vector<DebugMessage> m_debug;
};

}  // namespace kernel
}  // namespace sim
