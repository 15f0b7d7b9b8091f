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
// DATA and raises the clock sees one bit per cycle. Commands that change the
// memory (WREN, WRDI, page program, bulk and sector erase) act when nCS rises
// and only when it rises on a byte boundary; program and erase need the
// write-enable latch, which every program or erase clears. Programming can
// only clear bits. A started program or erase is stored at once (the part
// finishes it on its own); RDSR shows it busy for its cycle time, and while
// busy the part ignores every command but RDSR.
#include "FpgaBlock.h"

#include <algorithm>

namespace sim {

namespace {

enum EpcsOpcode : uint8_t {
    kPageProgram = 0x02,
    kRead = 0x03,
    kWriteDisable = 0x04,
    kReadStatus = 0x05,
    kWriteEnable = 0x06,
    kReadId = 0xAB,
    kBulkErase = 0xC7,
    kSectorErase = 0xD8,
};

constexpr uint8_t kStatusWip = 0x01;
constexpr uint8_t kStatusWel = 0x02;
constexpr size_t kPageSize = 256;
constexpr size_t kSectorSize = 64 * 1024;
constexpr int kAddressBytes = 3;

constexpr int kLineToEpcs = 0;
constexpr int kLineFromEpcs = 1;
constexpr int kLineClock = 2;
constexpr int kLineChipSelect = 3;
constexpr int kLineDone = 4;
constexpr int kLineHold = 5;
constexpr int kLineHostAccess = 8;
constexpr int kLines = 9;
constexpr bool kPull[kLines] = {false, true, false, true, false, false, false, false, true};

uint8_t reverseBits(uint8_t b) {
    b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

FpgaBlock::FpgaBlock(NvRegion& epcs, const Timing& timing, const FpgaBlockOptions& options)
    : m_epcs(epcs), m_timing(timing), m_options(options) {}

void FpgaBlock::setOptions(const FpgaBlockOptions& options) {
    m_options = options;
}

size_t FpgaBlock::epcsSizeFor(uint8_t siliconId) {
    return siliconId == 0x10 ? 128 * 1024 : 512 * 1024;
}

bool FpgaBlock::level(int line) const {
    return m_host.driven[line] ? m_host.level[line] : kPull[line];
}

// ---- the FPGA --------------------------------------------------------------

void FpgaBlock::applyLines(const LineDrive& host, uint64_t nowUs) {
    m_host = host;  // an input line drives nothing: level() looks at driven lines only
    const bool selected = !level(kLineChipSelect);
    if (selected != m_part.selected) epcsSelect(selected, nowUs);
    const bool clock = level(kLineClock);
    if (clock != m_part.clock) {
        m_part.clock = clock;
        if (m_part.selected) {
            if (clock) {
                epcsRisingEdge(level(kLineToEpcs), nowUs);
            } else {
                epcsFallingEdge();
            }
        }
    }
    const bool held = level(kLineHold) && !level(kLineHostAccess);
    if (held == m_held) {
        if (!held && loading(nowUs) && hostDrivesLoadLines()) unconfigure();  // contention: the load fails
        return;
    }
    m_held = held;
    if (held) {
        unconfigure();
    } else {
        load(nowUs);
    }
}

// ---- line contention -------------------------------------------------------
// Loading, the FPGA is the master of the device's serial interface: it
// drives data to the device, the clock and chip select itself. A host that
// still drives any of them (a bridge pin left an output) fights the FPGA's
// drivers, and the FPGA reads garbage: the load fails, at its start or
// whenever the host starts driving before it has ended.

bool FpgaBlock::hostDrivesLoadLines() const {
    return m_host.driven[kLineToEpcs] || m_host.driven[kLineClock] || m_host.driven[kLineChipSelect];
}

bool FpgaBlock::loading(uint64_t nowUs) const {
    return m_state.configured && nowUs < m_readyAt;
}

bool FpgaBlock::lineLevel(int line, uint64_t nowUs) {
    if (line < 0 || line >= kLines) return false;
    if (m_host.driven[line]) return m_host.level[line];
    if (line == kLineFromEpcs) return m_part.selected && m_part.outActive ? m_part.data : kPull[line];
    if (line == kLineDone) return configured(nowUs);
    return kPull[line];
}

bool FpgaBlock::configured(uint64_t nowUs) {
    return !m_held && m_state.configured && nowUs >= m_readyAt;
}

uint8_t FpgaBlock::version(uint64_t nowUs) {
    return configured(nowUs) ? m_state.version : 0xFF;
}

FpgaState FpgaBlock::state() const {
    return m_state;
}

void FpgaBlock::restore(const FpgaState& state) {
    m_state = state;
    if (!m_state.configured) m_state.version = 0xFF;
    m_readyAt = 0;
}

FpgaBlock::Busy FpgaBlock::busy() const {
    return {m_part.busyForever ? UINT64_MAX : m_part.busyUntil, m_readyAt};
}

void FpgaBlock::restoreBusy(const Busy& busy) {
    m_part.busyForever = busy.epcsUntilUs == UINT64_MAX;
    m_part.busyUntil = m_part.busyForever ? 0 : busy.epcsUntilUs;
    m_readyAt = busy.loadEndsUs;
}

void FpgaBlock::unconfigure() {
    if (!m_state.configured && m_state.version == 0xFF) return;
    m_state = FpgaState();
    ++m_changes;
}

// The FPGA reads its device from address 0, least significant bit first,
// and configures itself when it finds a valid image. A device busy with a
// program or erase does not answer, so the load fails.
void FpgaBlock::load(uint64_t nowUs) {
    unconfigure();
    if (m_options.neverConfigures || epcsBusy(nowUs) || hostDrivesLoadLines()) return;
    const std::vector<uint8_t> stream = imageView(m_epcs.size());
    uint8_t version = 0;
    if (!fpga_image::parse(stream.data(), stream.size(), &version)) return;
    if (m_options.versionOverride >= 0) version = uint8_t(m_options.versionOverride);
    m_state.configured = true;
    m_state.version = version;
    m_readyAt = nowUs + m_timing.fpgaConfigUs;
    ++m_changes;
}

void FpgaBlock::powerCycle(uint64_t nowUs) {
    // The bridge's pins come up as inputs and the EPCS powers up idle with
    // its latch clear; an operation that was running has finished.
    m_host = LineDrive();
    m_part = Epcs();
    m_held = false;
    load(nowUs);
}

void FpgaBlock::reload(uint64_t nowUs) {
    unconfigure();
    if (!m_held) load(nowUs);
}

std::vector<uint8_t> FpgaBlock::imageView(size_t length) const {
    const size_t n = std::min(length, m_epcs.size());
    std::vector<uint8_t> view(n);
    const uint8_t* data = m_epcs.data();
    for (size_t i = 0; i < n; ++i) view[i] = reverseBits(data[i]);
    return view;
}

// ---- the EPCS ----------------------------------------------------------------

bool FpgaBlock::epcsBusy(uint64_t nowUs) const {
    return m_part.busyForever || nowUs < m_part.busyUntil;
}

uint8_t FpgaBlock::epcsStatus(uint64_t nowUs) const {
    // The latch reads set until the cycle that clears it has ended.
    if (epcsBusy(nowUs)) return kStatusWip | kStatusWel;
    return m_part.wel ? kStatusWel : 0;
}

uint32_t FpgaBlock::epcsWrap(uint32_t address) const {
    return m_epcs.size() ? uint32_t(address % m_epcs.size()) : 0;
}

void FpgaBlock::epcsSelect(bool selected, uint64_t nowUs) {
    if (!selected) epcsExecute(nowUs);
    const bool busyForever = m_part.busyForever;
    const uint64_t busyUntil = m_part.busyUntil;
    const bool wel = m_part.wel;
    m_part = Epcs();
    m_part.busyForever = busyForever;
    m_part.busyUntil = busyUntil;
    m_part.wel = wel;
    m_part.selected = selected;
    m_part.clock = level(kLineClock);
}

void FpgaBlock::epcsRisingEdge(bool bit, uint64_t nowUs) {
    m_part.shift = uint8_t(m_part.shift << 1 | (bit ? 1 : 0));
    if (++m_part.bits < 8) return;
    const uint8_t byte = m_part.shift;
    m_part.bits = 0;
    m_part.shift = 0;
    epcsByte(byte, nowUs);
}

void FpgaBlock::epcsFallingEdge() {
    if (m_part.outActive) m_part.data = (m_part.outByte >> (7 - m_part.bits)) & 1;
}

// A complete byte arrived; decides what the next byte slot sends.
void FpgaBlock::epcsByte(uint8_t byte, uint64_t nowUs) {
    const int index = m_part.bytes++;
    if (index == 0) {
        m_part.command = byte;
        m_part.ignored = epcsBusy(nowUs) && byte != kReadStatus;
    }
    if (m_part.ignored) return;
    const bool addressByte = index >= 1 && index <= kAddressBytes;
    switch (m_part.command) {
        case kReadStatus:
            m_part.outActive = true;
            m_part.outByte = epcsStatus(nowUs);
            break;
        case kReadId:
            // Three dummy bytes, then the silicon ID for as long as clocks come.
            if (index >= kAddressBytes) {
                m_part.outActive = true;
                m_part.outByte = m_options.epcsId;
            }
            break;
        case kRead:
            if (addressByte) m_part.address = m_part.address << 8 | byte;
            if (index == kAddressBytes) {
                m_part.address = epcsWrap(m_part.address);
            } else if (index > kAddressBytes) {
                m_part.address = epcsWrap(m_part.address + 1);
            }
            if (index >= kAddressBytes) {
                m_part.outActive = m_epcs.size() != 0;
                m_part.outByte = m_part.outActive ? m_epcs.at(m_part.address) : 0xFF;
            }
            break;
        case kPageProgram:
        case kSectorErase:
            if (addressByte) m_part.address = m_part.address << 8 | byte;
            if (index > kAddressBytes && m_part.command == kPageProgram) {
                // Data bytes fill the page buffer from the address on and wrap
                // inside the page; more than a page overwrites the first ones.
                const size_t offset = m_part.address % kPageSize;
                m_part.page[offset] = byte;
                m_part.given[offset] = true;
                m_part.anyData = true;
                m_part.address = uint32_t(m_part.address - offset + (offset + 1) % kPageSize);
            }
            break;
        default:
            break;
    }
}

void FpgaBlock::epcsStartCycle(uint64_t busyUs, bool hangs, uint64_t nowUs) {
    m_part.wel = false;
    if (hangs) {
        m_part.busyForever = true;
    } else {
        m_part.busyUntil = nowUs + busyUs;
    }
}

// nCS rose: a command that changes the part acts now, if it ended on a byte
// boundary with the right number of bytes.
void FpgaBlock::epcsExecute(uint64_t nowUs) {
    if (m_part.ignored || m_part.bits != 0 || m_part.bytes == 0) return;
    const int bytes = m_part.bytes;
    switch (m_part.command) {
        case kWriteEnable:
            if (bytes == 1) m_part.wel = true;
            break;
        case kWriteDisable:
            if (bytes == 1) m_part.wel = false;
            break;
        case kBulkErase: {
            if (bytes != 1 || !m_part.wel) break;
            const bool hangs = m_options.eraseHangs;
            if (!hangs) m_epcs.fill(0xFF);
            epcsStartCycle(m_options.epcsId == 0x10 ? m_timing.epcsEraseEpcs1Us : m_timing.epcsEraseEpcs4Us,
                           hangs, nowUs);
            break;
        }
        case kSectorErase: {
            if (bytes != 1 + kAddressBytes || !m_part.wel || m_epcs.size() == 0) break;
            const bool hangs = m_options.eraseHangs;
            const size_t start = epcsWrap(m_part.address) / kSectorSize * kSectorSize;
            const size_t length = std::min(kSectorSize, m_epcs.size() - start);
            if (!hangs) {
                const std::vector<uint8_t> erased(length, 0xFF);
                m_epcs.write(start, erased.data(), length);
            }
            // A sector takes its share of the bulk erase time.
            const uint64_t bulk =
                m_options.epcsId == 0x10 ? m_timing.epcsEraseEpcs1Us : m_timing.epcsEraseEpcs4Us;
            epcsStartCycle(bulk * length / m_epcs.size(), hangs, nowUs);
            break;
        }
        case kPageProgram: {
            if (bytes <= 1 + kAddressBytes || !m_part.wel || !m_part.anyData || m_epcs.size() == 0) break;
            const bool hangs = m_options.writeHangs;
            if (!hangs) {
                const size_t base = epcsWrap(m_part.address) / kPageSize * kPageSize;
                const size_t length = std::min(kPageSize, m_epcs.size() - base);
                std::vector<uint8_t> page(m_epcs.data() + base, m_epcs.data() + base + length);
                for (size_t i = 0; i < length; ++i) {
                    if (m_part.given[i]) page[i] &= m_part.page[i];
                }
                m_epcs.write(base, page.data(), length);
            }
            epcsStartCycle(m_timing.epcsPageUs, hangs, nowUs);
            break;
        }
        default:
            break;
    }
}

}  // namespace sim
