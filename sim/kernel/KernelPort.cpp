// The seam to the system below the Windows program (driver/windows/
// KernelPort.h), answered by the simulated kernel driver over a rack: the
// test's bound rack, or the one `vjxsim run` names in the environment.
#include "driver/windows/KernelPort.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "InProcess.h"
#include "KernelDriver.h"
#include "RackBinding.h"
#include "sim/Rack.h"
#include "sim/backend/Environment.h"

namespace sim {
namespace kernel {
namespace {

// Configuration manager results and the root of the device tree.
constexpr uint32_t kCrSuccess = 0;
constexpr uint32_t kCrInvalidDevNode = 0x05;
constexpr uint32_t kCrFailure = 0x13;
constexpr uint32_t kCrNoSuchDevNode = 0x0D;
constexpr uint32_t kRootDevNode = 1;

// Privileges the program may ask for, by name, with their LUIDs.
struct Privilege {
    const char* name;
    uint64_t luid;
};
constexpr uint64_t kShutdownLuid = 19;
constexpr Privilege kPrivileges[] = {{"SeShutdownPrivilege", kShutdownLuid},
                                     {"SeRemoteShutdownPrivilege", 24}};
constexpr uint32_t kPrivilegeEnabled = 0x2;

// The Windows machine around the driver, from VJXSIM_WINDOWS (a comma list):
// `driver=N` the installed driver's version (major * 100 + minor),
// `user=standard` the program runs without the right to shut the machine
// down, `shutdown=refused` an application holds a restart back.
struct Machine {
    uint32_t driverVersion = kVersion;
    bool administrator = true;
    bool shutdownRefused = false;
};

bool readMachine(Machine* m, std::string* error) {
    *m = Machine();
    const char* text = getenv(backend::kEnvWindows);
    std::string rest = text ? text : "";
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        const std::string item = rest.substr(0, comma);
        rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
        char* end = nullptr;
        if (item.rfind("driver=", 0) == 0 && item.size() > 7) {
            const unsigned long version = strtoul(item.c_str() + 7, &end, 10);
            if (*end || version < 100 || version > 9999) return *error = item, false;
            m->driverVersion = static_cast<uint32_t>(version);
        } else if (item == "user=standard") {
            m->administrator = false;
        } else if (item == "shutdown=refused") {
            m->shutdownRefused = true;
        } else if (!item.empty()) {
            return *error = item, false;
        }
    }
    return true;
}

struct Port {
    std::recursive_mutex mutex;
    Machine machine;
    RackBinding binding;
    std::unique_ptr<KernelDriver> driver;
    Rack* driverRack = nullptr;
    std::set<uintptr_t> devices;
    uintptr_t nextDevice = 0x5100;
    std::set<uintptr_t> tokens;
    uintptr_t nextToken = 0x7100;
    bool shutdownEnabled = false;  // the process enabled the shutdown privilege
};

Port& port() {
    static Port p;
    return p;
}

// The driver over the rack in use, made when a rack is first there.
KernelDriver* driver(Port& p) {
    Rack* rack = p.binding.rack();
    if (!rack) return nullptr;
    if (!p.driver || p.driverRack != rack) {
        p.driver.reset(new KernelDriver(*rack, p.machine.driverVersion));
        p.driverRack = rack;
    }
    return p.driver.get();
}

bool sameText(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

}  // namespace

void bind(Rack* rack) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    p.driver.reset();
    p.driverRack = nullptr;
    p.devices.clear();
    p.tokens.clear();
    p.shutdownEnabled = false;
    p.binding.bind(rack);
}

std::vector<DebugMessage> debugMessages() {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    return p.driver ? p.driver->debugMessages() : std::vector<DebugMessage>{};
}

size_t openTokens() {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    return p.tokens.size();
}

size_t registrations() {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    return p.driver ? p.driver->registrations() : 0;
}

}  // namespace kernel
}  // namespace sim

namespace windrv {

using sim::kernel::Port;
using sim::kernel::port;

DeviceHandle OpenDevice(const char* path) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    const std::string device = std::string("\\\\.\\") + sim::kernel::kDeviceName;
    if (!path || !sim::kernel::sameText(path, device.c_str())) return nullptr;
    // The driver is installed only on the machine a rack simulates.
    if (!p.binding.ensure()) return nullptr;
    std::string wrong;
    if (!sim::kernel::readMachine(&p.machine, &wrong)) {
        fprintf(stderr, "vjxsim: %s: '%s' is no setting (driver=N, user=standard, shutdown=refused)\n",
                sim::backend::kEnvWindows, wrong.c_str());
        return nullptr;
    }
    const uintptr_t handle = p.nextDevice++;
    p.devices.insert(handle);
    return reinterpret_cast<DeviceHandle>(handle);
}

void CloseDevice(DeviceHandle handle) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    p.devices.erase(reinterpret_cast<uintptr_t>(handle));
}

bool Control(DeviceHandle handle, uint32_t code, void* record, uint32_t size, uint32_t* status) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    if (!status || !p.devices.count(reinterpret_cast<uintptr_t>(handle))) return false;
    sim::kernel::KernelDriver* d = sim::kernel::driver(p);
    if (!d) return false;
    d->control(code, static_cast<uint8_t*>(record), size, status);
    p.binding.checkIntact();
    return true;
}

uint8_t Load8(uint64_t address) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    sim::kernel::KernelDriver* d = sim::kernel::driver(p);
    if (!d) sim::kernel::RackBinding::noMemory(address);
    const uint8_t value = static_cast<uint8_t>(d->load(address, 8));
    p.binding.checkIntact();
    return value;
}

uint32_t Load32(uint64_t address) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    sim::kernel::KernelDriver* d = sim::kernel::driver(p);
    if (!d) sim::kernel::RackBinding::noMemory(address);
    const uint32_t value = d->load(address, 32);
    p.binding.checkIntact();
    return value;
}

void Store8(uint64_t address, uint8_t value) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    sim::kernel::KernelDriver* d = sim::kernel::driver(p);
    if (!d) sim::kernel::RackBinding::noMemory(address);
    d->store(address, 8, value);
    p.binding.checkIntact();
}

void Store32(uint64_t address, uint32_t value) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    sim::kernel::KernelDriver* d = sim::kernel::driver(p);
    if (!d) sim::kernel::RackBinding::noMemory(address);
    d->store(address, 32, value);
    p.binding.checkIntact();
}

uint32_t LocateDevNode(uint32_t* devInst, const char* deviceId, uint32_t) {
    if (!devInst) return sim::kernel::kCrFailure;
    *devInst = 0;
    if (deviceId && *deviceId) return sim::kernel::kCrNoSuchDevNode;
    *devInst = sim::kernel::kRootDevNode;
    return sim::kernel::kCrSuccess;
}

// A new enumeration of the bus below the root: functions that lack their
// resources get them.
uint32_t ReenumerateDevNode(uint32_t devInst, uint32_t) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    if (devInst != sim::kernel::kRootDevNode) return sim::kernel::kCrInvalidDevNode;
    if (!p.binding.ensure()) return sim::kernel::kCrFailure;
    sim::kernel::KernelDriver* d = sim::kernel::driver(p);
    const bool ok = d && d->reenumerate();
    p.binding.checkIntact();
    return ok ? sim::kernel::kCrSuccess : sim::kernel::kCrFailure;
}

bool LookupPrivilege(const char* systemName, const char* name, uint64_t* luid) {
    if ((systemName && *systemName) || !name || !luid) return false;
    for (const auto& privilege : sim::kernel::kPrivileges)
        if (sim::kernel::sameText(name, privilege.name)) {
            *luid = privilege.luid;
            return true;
        }
    return false;
}

bool OpenProcessToken(uint32_t, TokenHandle* token) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    if (!token) return false;
    const uintptr_t handle = p.nextToken++;
    p.tokens.insert(handle);
    *token = reinterpret_cast<TokenHandle>(handle);
    return true;
}

// An administrator holds every privilege the program asks for; a standard
// user not the right to shut the machine down.
bool AdjustTokenPrivilege(TokenHandle token, uint64_t luid, uint32_t attributes) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    if (!p.tokens.count(reinterpret_cast<uintptr_t>(token))) return false;
    if (luid == sim::kernel::kShutdownLuid && !p.machine.administrator) return false;
    for (const auto& privilege : sim::kernel::kPrivileges)
        if (privilege.luid == luid) {
            if (luid == sim::kernel::kShutdownLuid)
                p.shutdownEnabled = (attributes & sim::kernel::kPrivilegeEnabled) != 0;
            return true;
        }
    return false;
}

void CloseToken(TokenHandle token) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    p.tokens.erase(reinterpret_cast<uintptr_t>(token));
}

// The machine goes down: every card loses power, the rack keeps what the
// cards hold, and the program ends where it stands. Only a process that
// enabled the shutdown privilege may ask for it, and an application may hold
// it back.
bool RequestExitWindows(uint32_t flags, uint32_t) {
    Port& p = port();
    std::lock_guard<std::recursive_mutex> lock(p.mutex);
    if (!p.shutdownEnabled || p.machine.shutdownRefused || !p.binding.ensure()) return false;
    p.binding.shutDown(flags);
    return true;  // not reached
}

}  // namespace windrv
