// Non-volatile contents of a simulated part, kept in a file of the rack.
// Every completed device write goes to the file at once with one pwrite, so
// a process killed at any moment leaves every completed write in place and
// none torn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class NvRegion {
public:
    NvRegion() = default;  // memory only (tests), no file behind it
    NvRegion(const NvRegion&) = delete;
    NvRegion& operator=(const NvRegion&) = delete;
    ~NvRegion();

    // Opens (creating with `fill` bytes when missing) a file of `size` bytes.
    bool open(const std::string& path, size_t size, uint8_t fill, std::string* error = nullptr);
    // Memory-only region of `size` bytes of `fill`.
    void init(size_t size, uint8_t fill);

    size_t size() const { return m_data.size(); }
    const uint8_t* data() const { return m_data.data(); }
    uint8_t at(size_t offset) const { return m_data.at(offset); }

    // A completed write of `len` bytes at `offset` (must lie inside).
    void write(size_t offset, const void* bytes, size_t len);
    void writeByte(size_t offset, uint8_t value) { write(offset, &value, 1); }
    void fill(uint8_t value);

    // False once a write did not reach the file, or (when `lookAtFile`; a
    // system call) the file was removed while open, as when the rack is
    // deleted under the running process. `why` says what. Data that cannot
    // be kept must not pass for kept.
    bool intact(std::string* why, bool lookAtFile) const {
        // Looked at after every register access: the common answer inline.
        if (!lookAtFile && m_fault.empty()) return true;
        return intactOrWhy(why, lookAtFile);
    }

private:
    bool intactOrWhy(std::string* why, bool lookAtFile) const;

    std::vector<uint8_t> m_data;
    int m_fd = -1;
    std::string m_path;
    std::string m_fault;
};

}  // namespace sim
