// The access library's functions over a rack: handles, card and bridge
// numbers, the last-error text, and the process count and flash flag kept
// in the rack's runtime directory.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Environment.h"
#include "Moments.h"
#include "libmerix32/merix32.h"
#include "libmerix32/registry.h"
#include "sim/Clock.h"
#include "sim/Rack.h"

namespace sim {
namespace backend {

// Numbers of the first card and bridge.
constexpr unsigned kFirstNumber = 0x1001;

class SimBackend {
public:
    static SimBackend& instance();
    ~SimBackend();

    void bind(Rack* rack);

    int open(int* handle, unsigned number, PciFunction::Kind kind);
    int close(int handle);
    int getDeviceId(int handle, uint16_t* deviceId);
    int getDeviceInfo(int handle, vjxDeviceInfo* info);
    int configDump(int handle, unsigned offset, unsigned count, void* buffer);
    int read(int handle, uint8_t space, unsigned offset, unsigned width, uint32_t* value);
    int write(int handle, uint8_t space, unsigned offset, unsigned width, uint32_t value);
    int activeProcessCount();
    int setFlashActive(int on);
    const char* errorString();

private:
    struct Handle {
        bool open = false;
        PciFunction::Kind kind = PciFunction::Kind::Card;
        unsigned number = 0;
    };
    SimBackend() = default;
    bool ensureSettings();
    bool ensureRack();
    bool readEnvironment();
    bool loadRack();
    int checked(int status);
    const Handle* handle(int h);
    bool usable(const Handle& h, const char* what);           // the card can be opened for access
    bool registersUsable(const Handle& h, const char* what);  // and its register files too
    int fail(const std::string& text);
    bool registerProcess();

    std::mutex m_mutex;
    Rack* m_rack = nullptr;
    // The shared library's own rack, opened from the environment: its
    // settings at the first call, its cards when the first card is opened
    // (after the program took the access library's lock).
    MonotonicClock m_monotonic;
    std::unique_ptr<Rack> m_owned;
    bool m_envTried = false;
    std::string m_envError;
    std::string m_envDir;
    Timing m_envTiming;
    TraceFilter m_envFilter;
    std::string m_tracePath;
    std::string m_statsPath;
    std::vector<Moment> m_moments;  // events at chosen accesses
    uint64_t m_momentsSeen = 0;     // accesses already looked at

    std::unique_ptr<merix::Registry> m_registry;
    std::vector<Handle> m_handles;
    std::string m_error;
};

}  // namespace backend
}  // namespace sim
