// The FPGA and its serial configuration device (EPCS) with the nine
// configuration lines as the card wires them. The bridge-register models
// (sim/Card) turn register bits into line levels and call applyLines; this
// block adds the board's pull resistors for lines nobody drives, moves the
// EPCS pins, and lets the FPGA load itself when it is released.
//
// Lines: 0 data to the EPCS, 1 data from the EPCS, 2 clock, 3 EPCS chip
// select (low = selected), 4 configuration done (output of the FPGA),
// 5 high holds the FPGA off the device, 8 low while the host owns the device.
// The FPGA is held while line 5 is high and line 8 is low; when released it
// loads from the EPCS (what it reads is the stored bytes taken least
// significant bit first, the convention of the update file's FPGA image).
#pragma once

#include <cstdint>
#include <vector>

#include "../NvRegion.h"
#include "../Timing.h"

namespace sim {

struct LineDrive {
    bool driven[9] = {};  // the host drives the line (output and selected)
    bool level[9] = {};   // the level it drives
};

struct FpgaBlockOptions {
    uint8_t epcsId = 0x12;        // silicon ID: 0x10 EPCS1, 0x12 EPCS4, other = unsupported part
    bool eraseHangs = false;      // bulk erase never completes
    bool writeHangs = false;      // page program never completes
    bool neverConfigures = false; // the FPGA never reaches configuration done
    int versionOverride = -1;     // 0..255: VERSION reads this after a configuration
};

// Runtime state that survives the process (kept by the rack).
struct FpgaState {
    bool configured = false;
    uint8_t version = 0xFF;
};

class FpgaBlock {
public:
    // `epcs` is the device memory as stored (bytes as they arrived on its
    // wire, most significant bit first); its size is the part's size.
    FpgaBlock(NvRegion& epcs, const Timing& timing, const FpgaBlockOptions& options);
    void setOptions(const FpgaBlockOptions& options);

    void applyLines(const LineDrive& host, uint64_t nowUs);
    // Level of a line as the host reads it (1 data from the EPCS, 4 done);
    // other lines read back their resolved level.
    bool lineLevel(int line, uint64_t nowUs);

    bool configured(uint64_t nowUs);
    uint8_t version(uint64_t nowUs);  // 0xFF while not configured

    FpgaState state() const;
    void restore(const FpgaState& state);
    // Counts every change of state(), so the rack knows when to save it.
    uint64_t changeCount() const { return m_changes; }

    // Power-up: the FPGA loads from the device as at power-on.
    void powerCycle(uint64_t nowUs);
    // Unconfigures the FPGA (a reload request clears it before loading).
    void reload(uint64_t nowUs);

    // The EPCS content in the update file's FPGA-image convention.
    std::vector<uint8_t> imageView(size_t length) const;

    static size_t epcsSizeFor(uint8_t siliconId);  // 128 KiB, 512 KiB, else 512 KiB

private:
    struct Impl;
    Impl* m_impl;
    uint64_t m_changes = 0;
};

// The configuration image format of the simulated FPGA (what a valid
// configuration looks like), shared by the FPGA model and `vjxsim image`.
namespace fpga_image {
// Builds a valid image of `size` bytes (at least kMinSize) whose VERSION
// reads `version` once loaded.
std::vector<uint8_t> make(uint8_t version, size_t size);
// Checks an image read from the device (it may be followed by anything);
// on success gives its version.
bool parse(const uint8_t* stream, size_t length, uint8_t* version);
constexpr size_t kMinSize = 64;
}  // namespace fpga_image

}  // namespace sim
