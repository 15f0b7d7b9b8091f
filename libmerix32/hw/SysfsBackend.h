// The hardware side of the access library: VJX cards and PEX 8111 bridges as
// Linux sees them under /sys/bus/pci/devices. Each PCI function is a
// directory holding `vendor` and `device` (hexadecimal text), `config` (the
// configuration space), `resource` (one "start end flags" line per BAR) and
// `resourceN` (BAR N: mapped when it is memory, read and written with
// pread/pwrite when it is I/O).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "../merix32.h"

namespace merix {

class SysfsBackend {
public:
    // root: the directory of PCI functions (/sys/bus/pci/devices on a real
    // machine, a fabricated tree in tests).
    explicit SysfsBackend(std::string root);
    ~SysfsBackend();
    SysfsBackend(const SysfsBackend&) = delete;
    SysfsBackend& operator=(const SysfsBackend&) = delete;

    int open(int* handle, unsigned number, bool bridge);
    int close(int handle);
    int getDeviceId(int handle, uint16_t* deviceId);
    int getDeviceInfo(int handle, vjxDeviceInfo* info);
    int configDump(int handle, unsigned offset, unsigned count, void* buffer);
    int read8(int handle, uint8_t space, unsigned offset, uint8_t* value);
    int read32(int handle, uint8_t space, unsigned offset, uint32_t* value);
    int write8(int handle, uint8_t space, unsigned offset, uint8_t value);
    int write32(int handle, uint8_t space, unsigned offset, uint32_t value);

    // Text of the last failure; never empty.
    const char* errorString() const { return m_error.c_str(); }
    // Records a failure that happened outside the backend.
    void setError(std::string text) { m_error = std::move(text); }

private:
    static constexpr int kSpaces = 6;

    struct Space {
        uint64_t start = 0;
        uint64_t length = 0;
        bool io = false;
        std::string path;                 // resourceN
        int fd = -1;                      // opened on first access
        volatile uint8_t* map = nullptr;  // memory spaces
        uint64_t mapped = 0;              // accessible bytes
    };
    struct Function {
        std::string path;  // directory of the PCI function
        std::string name;  // dddd:bb:dd.f
        uint16_t device = 0;
        uint8_t bus = 0, slot = 0, function = 0;
        Space spaces[kSpaces];
    };

    std::vector<std::string> scan(bool bridge);
    Function* lookup(int handle, const char* operation);
    Space* access(int handle, uint8_t space, unsigned offset, unsigned width, const char* operation);
    int transfer(int handle, uint8_t index, unsigned offset, void* data, unsigned width, bool write);
    bool openSpace(Function& fn, int index);
    void closeSpace(Space& space);
    int fail(std::string text);

    std::string m_root;
    std::map<int, Function> m_open;
    int m_nextHandle = 1;
    std::string m_error = "No failure";
};

}  // namespace merix
