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
// Lines nobody drives take the board's pulls: 0 low, 1 high (while the EPCS
// does not drive it), 2 low, 3 high, 5 low, 6 and 7 low, 8 high; so with no
// host driving, the FPGA runs from its device.
//
// On PCIe-core cards (options.serialFlash) the FPGA's configuration device is
// a serial flash that no bridge line reaches: the FPGA loads from it at
// power-up and when told to reload, reading the stored bytes as they are,
// and between loads lends it to the host through its SPICTL register (bit 2
// host access; bits 0, 1, 4 clock, data in, chip select; bit 5 data out).
// The same four wires as the EPCS's, so the same wire model moves them.
#pragma once

#include <cstdint>
#include <vector>

#include "../NvRegion.h"
#include "../Rules.h"
#include "../Timing.h"
#include "../hw/Spi25.h"
#include "BusyPeriod.h"
#include "SpiMemory.h"

namespace sim {

struct LineDrive {
    bool driven[9] = {};  // the host drives the line (output and selected)
    bool level[9] = {};   // the level it drives
};

struct FpgaBlockOptions {
    uint8_t epcsId = spi25::kIdEpcs4;  // silicon ID: EPCS1, EPCS4, other = unsupported part
    bool eraseHangs = false;           // bulk erase never completes
    bool writeHangs = false;           // page program never completes
    bool neverConfigures = false;      // the FPGA never reaches configuration done
    bool doneWhileHeld = false;        // configuration done (line 4) reads 1 while the FPGA is held
    int versionOverride = -1;          // 0..255: VERSION reads this after a configuration
    // PCIe-core cards: the configuration device is the serial flash behind
    // SPICTL, answering this JEDEC identification.
    bool serialFlash = false;
    uint8_t flashManufacturer = 0x01;
    uint16_t flashDevice = 0x6017;
    uint64_t flashUniqueId = 0;
    // A slow part: its block erase or page program takes this long (µs)
    // whatever the profile; -1: the profile's figure.
    int64_t flashEraseUs = -1;
    int64_t flashPageUs = -1;
};

// Runtime state that survives the process (kept by the rack).
struct FpgaState {
    bool configured = false;  // configured, or will be once its load ends
    uint8_t version = 0xFF;
    BusyPeriod loading;   // the FPGA still reading its configuration
    BusyPeriod epcsBusy;  // the EPCS's erase or page program
    uint8_t spictl = 0;   // PCIe-core cards: the serial-flash port's register
};

class FpgaBlock {
public:
    // `epcs` is the device memory as stored (bytes as they arrived on its
    // wire, most significant bit first); its size is the part's size.
    FpgaBlock(NvRegion& epcs, const Timing& timing, const FpgaBlockOptions& options);
    void setOptions(const FpgaBlockOptions& options);
    // Where the block reports the rules its driver breaks.
    void setRules(const Rules* rules) {
        m_rules = rules;
        // The PCIe-core cards' flash is the FPGA's own business.
        if (!m_options.serialFlash) m_part.setRules(rules, rule::kEpcsBusy);
    }

    void applyLines(const LineDrive& host, uint64_t nowUs);
    // Level of a line as the host reads it (1 data from the EPCS, 4 done);
    // other lines read back their resolved level.
    bool lineLevel(int line, uint64_t nowUs);

    bool configured(uint64_t nowUs);
    uint8_t version(uint64_t nowUs);  // 0xFF while not configured

    FpgaState state() const;
    void restore(const FpgaState& state);
    // The busy periods that outlive the process (the EPCS's program or erase,
    // the FPGA's load in progress), which the rack keeps beside the state:
    // restored after restore().
    void restoreBusy(const BusyPeriod& epcs, const BusyPeriod& load);
    // Counts every change of state(), so the rack knows when to save it.
    uint64_t changeCount() const { return m_changes; }

    // Power-up: the FPGA loads from the device as at power-on.
    void powerCycle(uint64_t nowUs);
    // Unconfigures the FPGA (a reload request clears it before loading).
    void reload(uint64_t nowUs);

    // The device content in the update file's FPGA-image convention (the
    // EPCS's bytes bit-reversed, the serial flash's as they are).
    std::vector<uint8_t> imageView(size_t length) const;

    // PCIe-core cards: the serial-flash port (the register's bits are
    // declared in hw/CardFpga.h). Reads give bit 5 from the flash's output.
    uint8_t readSpictl(uint64_t nowUs);
    void writeSpictl(uint8_t value, uint64_t nowUs);
    // The serial flash's non-volatile registers, kept beside its memory.
    void setFlashRegisters(NvRegion* registers);
    bool serialFlash() const { return m_options.serialFlash; }

    static size_t epcsSizeFor(uint8_t siliconId);  // 128 KiB, 512 KiB, else 512 KiB
    // Size of the configuration device the options describe.
    static size_t deviceSizeFor(const FpgaBlockOptions& options);

private:
    // The EPCS's serial wire: bits gathered into the bytes the SPI memory
    // takes, and the byte it drives shifted out on DATA.
    struct Wire {
        bool selected = false;
        bool clock = false;
        uint8_t shift = 0;  // bits of the byte being received
        int bits = 0;       // how many of them
        bool outActive = false;
        uint8_t outByte = 0xFF;  // byte going out in the current byte slot
        bool data = true;        // level on DATA
    };

    bool level(int line) const;     // resolved level of a host-side line
    void moveWire(uint64_t nowUs);  // the device's pins follow the resolved lines
    void driveFromSpictl(uint64_t nowUs);
    SpiMemoryPart partFor(const FpgaBlockOptions& options) const;
    void epcsSelect(bool selected, uint64_t nowUs);
    void epcsRisingEdge(bool bit, uint64_t nowUs);
    void epcsFallingEdge();
    void unconfigure();
    void load(uint64_t nowUs);
    bool hostDrivesLoadLines() const;  // data to the device, clock or chip select
    // The host drives the device's lines while the FPGA drives them too (it
    // is not held, or its hold began too recently to have let go of them).
    bool contention(uint64_t nowUs) const;
    void checkContention(uint64_t nowUs);
    void broken(uint64_t nowUs, const char* rule, const std::string& detail) const;
    bool loading(uint64_t nowUs) const;  // a load started and not yet ended
    void noteChange();

    NvRegion& m_epcs;
    const Timing& m_timing;
    FpgaBlockOptions m_options;
    SpiMemory m_part;
    LineDrive m_host;
    Wire m_wire;
    bool m_held = false;
    uint64_t m_heldSinceUs = 0;
    bool m_contention = false;  // reported, until the host lets go of the lines
    bool m_restored = false;    // the next lines are those the saved state left
    const Rules* m_rules = nullptr;
    FpgaState m_state;  // where the FPGA is, or will be once its load ends
    uint64_t m_changes = 0;
};

// The configuration image format of the simulated FPGA (what a valid
// configuration looks like), shared by the FPGA model and `vjxsim image`.
//
// All fields little-endian. An image of N bytes (N >= kMinSize):
//   0..7    magic "VJXFPGA" and a 0 byte
//   8       format, 1
//   9       version: what the FPGA's VERSION register reads once loaded
//   10..11  0
//   12..15  N, the whole image length
//   16..19  CRC-32 (IEEE 802.3: reflected 0xEDB88320, start 0xFFFFFFFF,
//           final complement) over bytes 0..15 followed by bytes 20..N-1
//   20..N-1 configuration payload (pseudo-random, seeded by version and N)
// The CRC sits in the header rather than at the end, so that the bytes the
// update tool appends behind the image (its own CRC of the whole image)
// differ from one image to the next.
namespace fpga_image {
// Builds a valid image of `size` bytes (at least kMinSize) whose VERSION
// reads `version` once loaded.
std::vector<uint8_t> make(uint8_t version, size_t size);
// Checks an image read from the device (it may be followed by anything);
// on success gives its version.
bool parse(const uint8_t* stream, size_t length, uint8_t* version);
// The same, also giving the image's length N (the bytes behind it are not
// part of it).
bool parse(const uint8_t* stream, size_t length, uint8_t* version, size_t* imageSize);
constexpr size_t kMinSize = 64;
constexpr size_t kHeaderSize = 20;
}  // namespace fpga_image

}  // namespace sim
