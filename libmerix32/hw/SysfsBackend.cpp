#include "SysfsBackend.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <tuple>

namespace merix {
namespace {

constexpr uint16_t kVendorPlx = 0x10B5;
constexpr uint16_t kCardDevices[] = {0x9050, 0x9030, 0x9056};
constexpr uint16_t kBridgeDevice = 0x8111;
constexpr unsigned kFirstNumber = 0x1001;

// Flags of a line of the `resource` file.
constexpr uint64_t kResourceIo = 0x100;
constexpr uint64_t kResourceMem = 0x200;

struct Address {
    unsigned domain = 0, bus = 0, slot = 0, function = 0;
    bool operator<(const Address& o) const {
        return std::tie(domain, bus, slot, function) < std::tie(o.domain, o.bus, o.slot, o.function);
    }
};

bool parseAddress(const std::string& name, Address* a) {
    char tail = 0;
    return std::sscanf(name.c_str(), "%x:%x:%x.%x%c", &a->domain, &a->bus, &a->slot, &a->function, &tail) ==
           4;
}

bool readHexFile(const std::string& path, unsigned long* value) {
    std::FILE* f = std::fopen(path.c_str(), "re");
    if (!f) return false;
    bool ok = std::fscanf(f, "%lx", value) == 1;
    std::fclose(f);
    return ok;
}

std::string withReason(const std::string& what, const std::string& path, int error) {
    std::string text = what + " " + path + ": " + std::strerror(error);
    if (error == EACCES || error == EPERM) text += " (access to VJX cards needs root rights)";
    return text;
}

bool isCard(unsigned long device) {
    return std::find(std::begin(kCardDevices), std::end(kCardDevices), device) != std::end(kCardDevices);
}

}  // namespace

SysfsBackend::SysfsBackend(std::string root) : m_root(std::move(root)) {}

SysfsBackend::~SysfsBackend() {
    for (auto& entry : m_open)
        for (Space& space : entry.second.spaces) closeSpace(space);
}

int SysfsBackend::fail(std::string text) {
    m_error = std::move(text);
    return -1;
}

// PCI functions of the wanted kind, in bus order.
std::vector<std::string> SysfsBackend::scan(bool bridge) {
    std::vector<std::pair<Address, std::string>> found;
    DIR* dir = ::opendir(m_root.c_str());
    if (!dir) return {};
    while (struct dirent* entry = ::readdir(dir)) {
        Address address;
        std::string name = entry->d_name;
        if (!parseAddress(name, &address)) continue;
        unsigned long vendor = 0, device = 0;
        std::string path = m_root + "/" + name;
        if (!readHexFile(path + "/vendor", &vendor) || !readHexFile(path + "/device", &device)) continue;
        if (vendor != kVendorPlx) continue;
        if (bridge ? device == kBridgeDevice : isCard(device)) found.emplace_back(address, name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (auto& f : found) names.push_back(f.second);
    return names;
}

int SysfsBackend::open(int* handle, unsigned number, bool bridge) {
    const char* kind = bridge ? "PCIe bridge" : "VJX card";
    if (!handle) return fail(std::string("No handle given to open a ") + kind);
    *handle = 0;
    DIR* probe = ::opendir(m_root.c_str());
    if (!probe) return fail(withReason("Can't read the PCI device directory", m_root, errno));
    ::closedir(probe);

    std::vector<std::string> names = scan(bridge);
    char text[96];
    if (number < kFirstNumber || number - kFirstNumber >= names.size()) {
        std::snprintf(text, sizeof text, "No %s with number 0x%X (%zu found)", kind, number, names.size());
        return fail(text);
    }

    Function fn;
    fn.name = names[number - kFirstNumber];
    fn.path = m_root + "/" + fn.name;
    Address address;
    parseAddress(fn.name, &address);
    fn.bus = static_cast<uint8_t>(address.bus);
    fn.slot = static_cast<uint8_t>(address.slot);
    fn.function = static_cast<uint8_t>(address.function);
    unsigned long device = 0;
    if (!readHexFile(fn.path + "/device", &device))
        return fail(withReason("Can't read the device ID from", fn.path + "/device", errno));
    fn.device = static_cast<uint16_t>(device);

    // Address spaces: one line per BAR, "start end flags".
    std::string resource = fn.path + "/resource";
    std::FILE* f = std::fopen(resource.c_str(), "re");
    if (!f) return fail(withReason("Can't read the address spaces from", resource, errno));
    for (Space& space : fn.spaces) {
        uint64_t start = 0, end = 0, flags = 0;
        if (std::fscanf(f, "%" SCNx64 " %" SCNx64 " %" SCNx64, &start, &end, &flags) != 3) break;
        if (end > start && (flags & (kResourceIo | kResourceMem))) {
            space.start = start;
            space.length = end - start + 1;
            space.io = (flags & kResourceIo) != 0;
        }
    }
    std::fclose(f);

    *handle = m_nextHandle++;
    m_open.emplace(*handle, std::move(fn));
    return 0;
}

int SysfsBackend::close(int handle) {
    auto it = m_open.find(handle);
    if (it == m_open.end()) return fail("Close of a handle that is not open: " + std::to_string(handle));
    for (Space& space : it->second.spaces) closeSpace(space);
    m_open.erase(it);
    return 0;
}

SysfsBackend::Function* SysfsBackend::lookup(int handle, const char* operation) {
    auto it = m_open.find(handle);
    if (it != m_open.end()) return &it->second;
    fail(std::string(operation) + ": handle " + std::to_string(handle) + " is not open");
    return nullptr;
}

int SysfsBackend::getDeviceId(int handle, uint16_t* deviceId) {
    Function* fn = lookup(handle, "Device ID");
    if (!fn) return -1;
    if (!deviceId) return fail("Device ID: no place for the result");
    *deviceId = fn->device;
    return 0;
}

int SysfsBackend::getDeviceInfo(int handle, vjxDeviceInfo* info) {
    Function* fn = lookup(handle, "Device information");
    if (!fn) return -1;
    if (!info) return fail("Device information: no place for the result");
    std::memset(info, 0, sizeof *info);
    info->bus = fn->bus;
    info->slot = fn->slot;
    info->function = fn->function;
    info->space0Length = fn->spaces[0].length;
    info->space1Length = fn->spaces[1].length;
    info->space2Length = fn->spaces[2].length;
    return 0;
}

int SysfsBackend::configDump(int handle, unsigned offset, unsigned count, void* buffer) {
    Function* fn = lookup(handle, "Configuration read");
    if (!fn) return -1;
    if (count == 0) return 0;
    if (!buffer) return fail("Configuration read: no place for the result");
    std::string path = fn->path + "/config";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(withReason("Can't open", path, errno));
    ssize_t got = ::pread(fd, buffer, count, static_cast<off_t>(offset));
    int error = errno;
    ::close(fd);
    if (got < 0) return fail(withReason("Can't read", path, error));
    if (static_cast<unsigned>(got) != count) {
        char text[160];
        std::snprintf(text, sizeof text, "Configuration read of %u bytes at offset 0x%X gave %zd bytes",
                      count, offset, got);
        std::string message = std::string(text) + " from " + path;
        // Linux shows only the standard header of the configuration space
        // (64 bytes) to users other than root.
        if (::geteuid() != 0) message += " (the whole configuration space needs root rights)";
        return fail(message);
    }
    return 0;
}

bool SysfsBackend::openSpace(Function& fn, int index) {
    Space& space = fn.spaces[index];
    std::string path = fn.path + "/resource" + std::to_string(index);
    space.path = path;
    space.fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (space.fd < 0) {
        fail(withReason("Can't open", path, errno));
        return false;
    }
    struct stat st;
    space.mapped = space.length;
    if (::fstat(space.fd, &st) == 0 && st.st_size > 0)
        space.mapped = std::min<uint64_t>(space.length, static_cast<uint64_t>(st.st_size));
    if (space.io) return true;
    void* map = ::mmap(nullptr, space.mapped, PROT_READ | PROT_WRITE, MAP_SHARED, space.fd, 0);
    if (map == MAP_FAILED) {
        fail(withReason("Can't map", path, errno));
        ::close(space.fd);
        space.fd = -1;
        return false;
    }
    space.map = static_cast<volatile uint8_t*>(map);
    return true;
}

void SysfsBackend::closeSpace(Space& space) {
    if (space.map) ::munmap(const_cast<uint8_t*>(space.map), space.mapped);
    if (space.fd >= 0) ::close(space.fd);
    space.map = nullptr;
    space.fd = -1;
}

SysfsBackend::Space* SysfsBackend::access(int handle, uint8_t index, unsigned offset, unsigned width,
                                          const char* operation) {
    Function* fn = lookup(handle, operation);
    if (!fn) return nullptr;
    char text[160];
    if (index >= kSpaces || fn->spaces[index].length == 0) {
        std::snprintf(text, sizeof text, "%s: address space %u of %s is not present", operation, index,
                      fn->name.c_str());
        fail(text);
        return nullptr;
    }
    Space& space = fn->spaces[index];
    if (space.fd < 0 && !openSpace(*fn, index)) return nullptr;
    if (offset % width != 0 || uint64_t{offset} + width > space.mapped) {
        std::snprintf(text, sizeof text, "%s: offset 0x%X (%u bytes) is outside address space %u of %s",
                      operation, offset, width, index, fn->name.c_str());
        fail(text);
        return nullptr;
    }
    return &space;
}

// One register access: a load or store of the access's width on a mapped
// memory space, or one pread/pwrite of that width on an I/O space.
int SysfsBackend::transfer(int handle, uint8_t index, unsigned offset, void* data, unsigned width,
                           bool write) {
    const char* operation =
        width == 1 ? (write ? "8-bit write" : "8-bit read") : (write ? "32-bit write" : "32-bit read");
    Space* space = access(handle, index, offset, width, operation);
    if (!space) return -1;
    if (!data) return fail(std::string(operation) + ": no place for the result");
    if (space->map) {
        volatile uint8_t* at = space->map + offset;
        if (width == 1 && write) *at = *static_cast<uint8_t*>(data);
        if (width == 1 && !write) *static_cast<uint8_t*>(data) = *at;
        if (width == 4 && write) *reinterpret_cast<volatile uint32_t*>(at) = *static_cast<uint32_t*>(data);
        if (width == 4 && !write) *static_cast<uint32_t*>(data) = *reinterpret_cast<volatile uint32_t*>(at);
        return 0;
    }
    ssize_t got = write ? ::pwrite(space->fd, data, width, offset) : ::pread(space->fd, data, width, offset);
    if (got < 0) return fail(withReason(operation, space->path, errno));
    if (got != static_cast<ssize_t>(width))
        return fail(std::string(operation) + " " + space->path + ": " + std::to_string(got) + " of " +
                    std::to_string(width) + " bytes transferred");
    return 0;
}

int SysfsBackend::read8(int handle, uint8_t index, unsigned offset, uint8_t* value) {
    return transfer(handle, index, offset, value, 1, false);
}

int SysfsBackend::read32(int handle, uint8_t index, unsigned offset, uint32_t* value) {
    return transfer(handle, index, offset, value, 4, false);
}

int SysfsBackend::write8(int handle, uint8_t index, unsigned offset, uint8_t value) {
    return transfer(handle, index, offset, &value, 1, true);
}

int SysfsBackend::write32(int handle, uint8_t index, unsigned offset, uint32_t value) {
    return transfer(handle, index, offset, &value, 4, true);
}

}  // namespace merix
