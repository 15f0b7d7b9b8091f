// The FPGA, its EPCS configuration device and the nine lines between them and
// the bridge.
//
// Board pulls for lines nobody drives: data to the EPCS (0) low, DATA from
// the EPCS (1) high while the part does not drive it, clock (2) low, chip
// select (3) high (deselected), 4 is driven by the FPGA (configuration done),
// 5 low (the FPGA is not held and runs from its device), 6 and 7 low, 8 high.
//
// The EPCS samples ASDI on the rising edge of DCLK while nCS is low and
// changes DATA after the falling edge, so a host that drops the clock, reads
// DATA and raises the clock sees one bit per cycle. Its commands are those of
// the SPI memory (SpiMemory.h); a command that changes the memory acts only
// when nCS rises on a byte boundary.
//
// Released, the FPGA reads its configuration from the device at the
// active-serial clock: an image of N bytes takes N * 8 clocks, and the FPGA
// reports done (and VERSION answers) only after that.
#include "FpgaBlock.h"

#include <algorithm>

#include "../hw/CardFpga.h"
#include "../hw/SerialFlash.h"
#include "../hw/Spi25.h"

namespace sim {

namespace {

using namespace fpga_lines;
constexpr int kLines = fpga_lines::kCount;
constexpr bool kPull[kLines] = {false, true, false, true, false, false, false, false, true};

uint8_t reverseBits(uint8_t b) {
    b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

FpgaBlock::FpgaBlock(NvRegion& epcs, const Timing& timing, const FpgaBlockOptions& options)
    : m_epcs(epcs), m_timing(timing), m_options(options), m_part(epcs, partFor(options)) {
    setOptions(options);
}

SpiMemoryPart FpgaBlock::partFor(const FpgaBlockOptions& options) const {
    if (options.serialFlash) {
        SpiMemoryPart part = SpiMemoryPart::serialFlash(options.flashManufacturer, options.flashDevice,
                                                        options.flashUniqueId, m_timing);
        if (options.flashEraseUs >= 0) part.sectorEraseUs = uint64_t(options.flashEraseUs);
        if (options.flashPageUs >= 0) part.writeUs = uint64_t(options.flashPageUs);
        return part;
    }
    return SpiMemoryPart::epcs(options.epcsId, m_timing);
}

void FpgaBlock::setFlashRegisters(NvRegion* registers) {
    m_part.setRegisters(registers);
}

size_t FpgaBlock::deviceSizeFor(const FpgaBlockOptions& options) {
    return options.serialFlash ? serial_flash::kSize : epcsSizeFor(options.epcsId);
}

void FpgaBlock::setOptions(const FpgaBlockOptions& options) {
    m_options = options;
    m_part.setPart(partFor(options));
    SpiMemoryFaults faults;
    faults.eraseHangs = options.eraseHangs;
    faults.writeHangs = options.writeHangs;
    m_part.setFaults(faults);
}

size_t FpgaBlock::epcsSizeFor(uint8_t siliconId) {
    return siliconId == spi25::kIdEpcs1 ? 128 * 1024 : 512 * 1024;
}

bool FpgaBlock::level(int line) const {
    return m_host.driven[line] ? m_host.level[line] : kPull[line];
}

// ---- the FPGA --------------------------------------------------------------

void FpgaBlock::applyLines(const LineDrive& host, uint64_t nowUs) {
    m_host = host;  // an input line drives nothing: level() looks at driven lines only
    const bool held = level(kHold) && !level(kHostAccess);
    if (m_restored) {
        // The lines as an earlier program left them: they have been so for
        // a while.
        m_restored = false;
        m_held = held;
        m_heldSinceUs = 0;
        if (held) unconfigure();
        m_contention = contention(nowUs);
        moveWire(nowUs);
        return;
    }
    if (held != m_held) {
        m_held = held;
        if (held) {
            m_heldSinceUs = nowUs;
            unconfigure();
        } else if ((nowUs - m_heldSinceUs) * 1000 < kHoldMinNs) {
            // nCONFIG went low for less than tCFG: the FPGA's reset is not
            // complete and the load that follows fails.
            unconfigure();
            broken(nowUs, rule::kFpgaHoldPulse,
                   "the FPGA was held " + std::to_string(nowUs - m_heldSinceUs) +
                       " us (nCONFIG low at least 2 us): its load fails");
            checkContention(nowUs);
            moveWire(nowUs);
            return;
        } else {
            checkContention(nowUs);
            load(nowUs);
            moveWire(nowUs);
            return;
        }
    }
    checkContention(nowUs);
    moveWire(nowUs);
}

// ---- who drives the device's lines -----------------------------------------
// The FPGA drives the device's data input, clock and chip select whenever it
// is not held: while it loads (its configuration clock), and configured or
// failed as well (its active-serial pins keep the device deselected). Held,
// it lets go of them within tCF2ST0. A host that drives any of them at
// another time fights the FPGA's drivers: the device sees garbage (nothing
// it takes as a command), the host reads nothing from it, and a load in
// progress fails.

bool FpgaBlock::contention(uint64_t nowUs) const {
    if (m_options.serialFlash || !hostDrivesLoadLines()) return false;
    return !m_held || (nowUs - m_heldSinceUs) * 1000 < kHoldSettleNs;
}

void FpgaBlock::checkContention(uint64_t nowUs) {
    const bool now = contention(nowUs);
    if (now && !m_contention) {
        if (m_held)
            broken(nowUs, rule::kFpgaHoldSettle,
                   "the host drove the configuration device's lines " +
                       std::to_string(nowUs - m_heldSinceUs) +
                       " us after the hold began (the FPGA lets go of them within 0.6 us)");
        else
            broken(nowUs, rule::kFpgaDeviceContention,
                   "the host drove the configuration device's lines while the FPGA was not held");
    }
    m_contention = now;
    if (now && loading(nowUs)) unconfigure();  // the load reads garbage and fails
}

void FpgaBlock::broken(uint64_t nowUs, const char* rule, const std::string& detail) const {
    if (m_rules) m_rules->broken(nowUs, rule, detail);
}

void FpgaBlock::moveWire(uint64_t nowUs) {
    // Fought over, the lines carry nothing the device takes: to it, that is
    // no chip select.
    const bool selected = !m_contention && !level(kChipSelect);
    if (selected != m_wire.selected) epcsSelect(selected, nowUs);
    const bool clock = level(kClock);
    if (clock != m_wire.clock) {
        m_wire.clock = clock;
        if (m_wire.selected) {
            if (clock) {
                epcsRisingEdge(level(kToEpcs), nowUs);
            } else {
                epcsFallingEdge();
            }
        }
    }
}

// ---- the serial-flash port of the PCIe-core cards ------------------------------
// While bit 2 gives the host the flash, the FPGA drives the flash's chip
// select, clock and data input from bits 4, 0 and 1; otherwise it leaves them
// to the board's pulls (deselected, clock low). A loaded configuration only
// runs the port: an unconfigured or loading FPGA answers nothing (the
// function itself is off the bus then).

uint8_t FpgaBlock::readSpictl(uint64_t nowUs) {
    const bool miso = lineLevel(kFromEpcs, nowUs);
    return uint8_t((m_state.spictl & ~card_regs::kSpiDataIn) | (miso ? card_regs::kSpiDataIn : 0));
}

void FpgaBlock::writeSpictl(uint8_t value, uint64_t nowUs) {
    if (!m_options.serialFlash) return;
    const uint8_t stored = uint8_t(value & ~card_regs::kSpiDataIn);
    // Saved runtime state changes with who owns the flash and with chip
    // select (a command's end); the clock and data toggles within a byte
    // are kept in memory only, else every bit would rewrite the card's
    // state file.
    const uint8_t lines = card_regs::kSpiClock | card_regs::kSpiDataOut;
    if ((stored & ~lines) != (m_state.spictl & ~lines)) ++m_changes;
    m_state.spictl = stored;
    driveFromSpictl(nowUs);
}

void FpgaBlock::driveFromSpictl(uint64_t nowUs) {
    const uint8_t stored = m_state.spictl;
    LineDrive drive;
    if (stored & card_regs::kSpiHostAccess) {
        drive.driven[kChipSelect] = drive.driven[kClock] = drive.driven[kToEpcs] = true;
        drive.level[kChipSelect] = stored & card_regs::kSpiDeselect;
        drive.level[kClock] = stored & card_regs::kSpiClock;
        drive.level[kToEpcs] = stored & card_regs::kSpiDataOut;
    }
    m_host = drive;
    moveWire(nowUs);
}

bool FpgaBlock::hostDrivesLoadLines() const {
    return m_host.driven[kToEpcs] || m_host.driven[kClock] || m_host.driven[kChipSelect];
}

bool FpgaBlock::loading(uint64_t nowUs) const {
    return m_state.configured && m_state.loading.at(nowUs);
}

bool FpgaBlock::lineLevel(int line, uint64_t nowUs) {
    if (line < 0 || line >= kLines) return false;
    if (m_host.driven[line]) return m_host.level[line];
    if (line == kFromEpcs)
        return m_wire.selected && m_wire.outActive && !m_contention ? m_wire.data : kPull[line];
    if (line == kDone) return (m_held && m_options.doneWhileHeld) || configured(nowUs);
    return kPull[line];
}

bool FpgaBlock::configured(uint64_t nowUs) {
    return !m_held && m_state.configured && !m_state.loading.at(nowUs);
}

uint8_t FpgaBlock::version(uint64_t nowUs) {
    return configured(nowUs) ? m_state.version : 0xFF;
}

FpgaState FpgaBlock::state() const {
    FpgaState state = m_state;
    state.epcsBusy = m_part.busyPeriod();
    return state;
}

void FpgaBlock::restore(const FpgaState& state) {
    m_state = state;
    if (!m_state.configured) {
        m_state.version = 0xFF;
        m_state.loading = BusyPeriod();
        m_state.spictl = 0;
    }
    m_part.restoreBusy(state.epcsBusy);
    m_restored = true;
    // The serial-flash port drives the flash's pins as its register says.
    if (m_options.serialFlash) driveFromSpictl(0);
}

void FpgaBlock::restoreBusy(const BusyPeriod& epcs, const BusyPeriod& load) {
    m_part.restoreBusy(epcs);
    if (m_state.configured) m_state.loading = load;
}

void FpgaBlock::unconfigure() {
    if (!m_state.configured && m_state.version == 0xFF && m_state.spictl == 0) return;
    m_state = FpgaState();
    ++m_changes;
}

// The FPGA reads its device from address 0, least significant bit first,
// and configures itself when it finds a valid image; reading it takes one
// active-serial clock per bit. A device busy with a program or erase does
// not answer, so the load fails.
void FpgaBlock::load(uint64_t nowUs) {
    unconfigure();
    if (m_options.neverConfigures || m_part.busy(nowUs) || hostDrivesLoadLines()) return;
    const std::vector<uint8_t> stream = imageView(m_epcs.size());
    uint8_t version = 0;
    size_t imageSize = 0;
    if (!fpga_image::parse(stream.data(), stream.size(), &version, &imageSize)) return;
    if (m_options.versionOverride >= 0) version = uint8_t(m_options.versionOverride);
    m_state.configured = true;
    m_state.version = version;
    m_state.loading = BusyPeriod::until(nowUs + m_timing.fpgaLoadUs(imageSize));
    ++m_changes;
}

void FpgaBlock::powerCycle(uint64_t nowUs) {
    // The bridge's pins come up as inputs and the EPCS powers up idle with
    // its latch clear; an operation that was running has finished.
    m_host = LineDrive();
    m_wire = Wire();
    m_part.powerUp();
    m_held = false;
    m_contention = false;
    m_restored = false;
    load(nowUs);
}

void FpgaBlock::reload(uint64_t nowUs) {
    unconfigure();
    if (m_options.serialFlash) {
        // The reloading FPGA takes its port back: the host's drive ends and
        // a command the host left open is cut off.
        m_host = LineDrive();
        moveWire(nowUs);
    }
    if (!m_held) load(nowUs);
}

std::vector<uint8_t> FpgaBlock::imageView(size_t length) const {
    const size_t n = std::min(length, m_epcs.size());
    const uint8_t* data = m_epcs.data();
    if (m_options.serialFlash) return std::vector<uint8_t>(data, data + n);
    std::vector<uint8_t> view(n);
    for (size_t i = 0; i < n; ++i) view[i] = reverseBits(data[i]);
    return view;
}

// ---- the EPCS wire ------------------------------------------------------------

void FpgaBlock::epcsSelect(bool selected, uint64_t nowUs) {
    m_part.select(selected, nowUs, m_wire.bits == 0);
    m_wire = Wire();
    m_wire.selected = selected;
    m_wire.clock = level(kClock);
    m_wire.outActive = m_part.output(&m_wire.outByte);
}

void FpgaBlock::epcsRisingEdge(bool bit, uint64_t nowUs) {
    m_wire.shift = uint8_t(m_wire.shift << 1 | (bit ? 1 : 0));
    if (++m_wire.bits < 8) return;
    const uint8_t byte = m_wire.shift;
    m_wire.bits = 0;
    m_wire.shift = 0;
    m_part.input(byte, nowUs);
    m_wire.outActive = m_part.output(&m_wire.outByte);
}

void FpgaBlock::epcsFallingEdge() {
    if (m_wire.outActive) m_wire.data = (m_wire.outByte >> (7 - m_wire.bits)) & 1;
}

}  // namespace sim
