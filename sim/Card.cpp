#include "Card.h"

#include <string.h>

#include <nlohmann/json.hpp>

#include "Checksums.h"
#include "FileUtil.h"
#include "hw/SerialFlash.h"

namespace sim {
namespace {

constexpr size_t kMcuFlashBytes = 64 * 1024;

// busy.bin: the clock's tag (NUL-padded), then when each busy period ends as
// 8-byte little-endian microseconds on that clock: configuration EEPROM
// write, PEX 8111 EEPROM write, EPCS program or erase, FPGA load,
// microcontroller start-up or flash operation. UINT64_MAX: never.
constexpr size_t kClockTagBytes = 48;
constexpr size_t kBusyTimes = 5;
constexpr size_t kBusyBytes = kClockTagBytes + 8 * kBusyTimes;

}  // namespace

Card::Card(unsigned number, CardSpec spec, const Timing& timing, bool readOnly)
    : m_number(number),
      m_spec(std::move(spec)),
      m_timing(timing),
      m_identity(chipIdentity(m_spec.chip)),
      m_readOnly(readOnly) {}

Card::~Card() = default;

bool Card::open(const std::string& dir, const std::string& clockTag, uint64_t nowUs, bool* restored,
                std::string* error) {
    m_dir = dir;
    m_clockTag = clockTag.substr(0, kClockTagBytes);
    if (!makeDirectory(dir, error) || !openParts(error)) return false;
    build(nowUs);
    *restored = false;
    std::string text;
    if (readFile(path("state.json"), &text, nullptr)) {
        if (!loadState(nowUs, error)) return false;
        *restored = true;
    }
    return true;
}

const char* Card::deviceFile() const {
    return pcieCore() ? "flash.bin" : "epcs.bin";
}

bool Card::openParts(std::string* error) {
    if (pcieCore()) {
        // No configuration EEPROM is fitted: the PLX chip's EEPROM pins of
        // the function the FPGA presents lead nowhere.
        m_eepromMem.init(kEepromBytes, 0xFF);
        if (!m_flashRegs.open(path("flash-regs.bin"), serial_flash::kNvRegisters, 0x00, error)) return false;
    } else if (!m_eepromMem.open(path("eeprom.bin"), kEepromBytes, 0xFF, error)) {
        return false;
    }
    if (m_spec.hasPex8111Footprint() &&
        !m_pcieMem.open(path("pcie-eeprom.bin"), kPcieEepromBytes, 0xFF, error))
        return false;
    if (!m_epcsMem.open(path(deviceFile()), FpgaBlock::deviceSizeFor(m_spec.parsed.fpga), 0xFF, error))
        return false;
    if (!m_flashMem.open(path("mcu-flash.bin"), kMcuFlashBytes, 0xFF, error)) return false;
    if (!m_busyMem.open(path("busy.bin"), kBusyBytes, 0x00, error)) return false;
    return m_bootMem.open(path("mcu-boot.bin"), 2, 0xFF, error);
}

void Card::build(uint64_t nowUs) {
    m_bridgeFn.reset();
    m_cardFn.reset();
    m_mailbox.reset();
    m_mcu.reset();
    m_fpga.reset();
    m_eectl.reset();
    m_spi.reset();
    m_eeprom.reset();

    const CardOptions& o = m_spec.parsed;
    m_eeprom.reset(new MicrowireEeprom(m_eepromMem, m_timing));
    if (m_spec.hasPex8111Footprint()) {
        m_spi.reset(new SpiEeprom25(m_pcieMem, m_timing));
        m_eectl.reset(new Pex8111Eectl(*m_spi, m_timing));
    }
    m_fpga.reset(new FpgaBlock(m_epcsMem, m_timing, fpgaOptions()));
    if (pcieCore()) m_fpga->setFlashRegisters(&m_flashRegs);
    m_mcu.reset(new Microcontroller(m_flashMem, m_bootMem, m_timing, o.mcu));
    m_mailbox.reset(new Mailbox(*m_mcu, m_timing, o.link));
    m_fpga->setRules(&m_rules);
    m_mcu->setRules(&m_rules);
    m_mailbox->setRules(&m_rules);
    if (m_spi) m_spi->setRules(&m_rules);
    m_cardFn.reset(new PlxFunction(m_spec.chip, *m_eeprom, *m_fpga, *m_mailbox, *this));
    if (m_eectl && !o.noBridge) m_bridgeFn.reset(new Pex8111Function(*m_eectl, *this, !o.slowBridge));
    applyFaults();
    m_cardFn->setIdentity(m_identity);
    place(m_placement);
    m_configured = m_fpga->configured(nowUs);
}

FpgaBlockOptions Card::fpgaOptions() const {
    FpgaBlockOptions options = m_spec.parsed.fpga;
    options.flashUniqueId = 0x5AF1A5C000000000ull | m_number;  // programmed at the flash's factory
    return options;
}

void Card::place(const Placement& placement) {
    m_placement = placement;
    if (!m_cardFn) return;
    m_cardFn->setAddress(placement.card);
    if (pcieCore()) {
        const bool changed = m_barsChanged;
        assignBars(m_barsAssigned);
        m_barsChanged = changed;
    } else {
        m_cardFn->setBars(placement.cardMemory0, placement.cardIo1, placement.cardMemory2);
    }
    if (m_bridgeFn) {
        m_bridgeFn->setAddress(placement.bridge);
        m_bridgeFn->setSecondaryBus(placement.card.bus);
        m_bridgeFn->setBar(placement.bridgeMemory0);
    }
}

void Card::applyFaults() {
    const CardOptions& o = m_spec.parsed;
    MicrowireFaults eeprom = o.eeprom;
    if (pcieCore()) eeprom.absent = true;  // nothing on the EEPROM pins
    m_eeprom->setFaults(eeprom);
    if (m_spi) m_spi->setFaults(o.pcieEeprom);
    if (m_eectl) m_eectl->setStuckBusy(o.eectlStuck);
    m_fpga->setOptions(fpgaOptions());
    m_mcu->setOptions(o.mcu);
    // The noise of the link draws from its seed and the number of times the
    // rack was opened: a series of runs repeats exactly, yet a run after a
    // failed one meets other errors.
    LinkOptions link = o.link;
    link.seed += m_sessions * 0x9E3779B97F4A7C15ull;
    m_mailbox->setLink(link);
    // A part freed of its hang fault ends the operation that hung.
    const FpgaState fpga = m_fpga->state();
    if (fpga.epcsBusy.forever && !o.fpga.eraseHangs && !o.fpga.writeHangs)
        m_fpga->restoreBusy(BusyPeriod(), fpga.loading);
    if (m_eeprom->busyPeriod().forever && !o.eeprom.neverReady) m_eeprom->restoreBusy(BusyPeriod());
}

bool Card::wantsImage(Part part) const {
    if (!m_spec.blank) return true;
    for (const auto& o : m_spec.options) {
        std::string n = optionName(o);
        if (part == Part::Epcs && (n == "fpga" || n == "fpga-size")) return true;
        if (part == Part::McuFlash && (n == "fw" || n == "isp" || n == "fw-size")) return true;
    }
    return false;
}

bool Card::makeContent(const std::vector<Part>& parts, std::string* error) {
    const CardOptions& o = m_spec.parsed;
    for (Part part : parts) {
        switch (part) {
            case Part::Eeprom:
                if (pcieCore()) break;  // none fitted
                if (m_spec.info) {
                    auto bytes = eepromFromImage(configImage(*m_spec.info, o.oldEeprom));
                    m_eepromMem.write(0, bytes.data(), bytes.size());
                } else {
                    m_eepromMem.fill(0xFF);
                }
                break;
            case Part::PcieEeprom:
                if (!m_spec.hasPex8111Footprint()) break;
                m_pcieMem.fill(0xFF);
                if (m_spec.info) {
                    auto bytes = pcieEepromContent(o.oldPcieEeprom);
                    m_pcieMem.write(0, bytes.data(), bytes.size());
                }
                break;
            case Part::Epcs: {
                size_t size = FpgaBlock::deviceSizeFor(o.fpga);
                if (m_epcsMem.size() != size && !m_epcsMem.open(path(deviceFile()), size, 0xFF, error))
                    return false;
                m_epcsMem.fill(0xFF);
                if (pcieCore()) {
                    // The registers as the card's maker left them: CR1NV as
                    // given, the others at the flash's factory values.
                    uint8_t regs[serial_flash::kNvRegisters] = {};
                    regs[serial_flash::kCr1Nv] = static_cast<uint8_t>(o.flashCr1);
                    m_flashRegs.write(0, regs, sizeof regs);
                }
                if (!wantsImage(part)) break;
                std::vector<uint8_t> image =
                    fpga_image::make(static_cast<uint8_t>(o.fpgaVersion), o.fpgaSize);
                uint32_t crc = jamCrc32(image.data(), image.size());
                for (int i = 0; i < 4; ++i) image.push_back(static_cast<uint8_t>(crc >> (8 * i)));
                if (image.size() > size) {
                    if (error)
                        *error = "card " + std::to_string(m_number) + ": an FPGA image of " +
                                 std::to_string(o.fpgaSize) +
                                 " bytes and its CRC do not fit a configuration "
                                 "device of " +
                                 std::to_string(size) + " bytes";
                    return false;
                }
                // The EPCS keeps the bits in the order they arrive on its
                // wire; the host sends image bytes least significant bit
                // first. The serial flash gets them most significant bit
                // first, so it holds the bytes as they are.
                if (!pcieCore())
                    for (auto& b : image) b = reverseBits(b);
                m_epcsMem.write(0, image.data(), image.size());
                break;
            }
            case Part::McuFlash: {
                m_flashMem.fill(0xFF);
                const uint8_t blankBoot[2] = {0xFF, 0xFF};
                m_bootMem.write(0, blankBoot, 2);
                if (!wantsImage(part)) break;
                firmware_image::Version v;
                if (!firmware_image::versionFromText(o.firmware, static_cast<uint8_t>(o.ispVersion()), &v)) {
                    if (error) *error = "bad firmware version '" + o.firmware + "'";
                    return false;
                }
                std::vector<uint8_t> image = firmware_image::make(v, o.firmwareSize);
                m_flashMem.write(0, image.data(), std::min(image.size(), m_flashMem.size()));
                const uint8_t boot[2] = {0x00, 0x00};  // BSB 0, BLJB 0: the application starts at reset
                m_bootMem.write(0, boot, 2);
                break;
            }
        }
    }
    return true;
}

std::vector<uint8_t> Card::bridgeEepromAnswer() const {
    // A dead part answers nothing.
    if (m_spec.parsed.pcieEeprom.dead) return {};
    return std::vector<uint8_t>(m_pcieMem.data(), m_pcieMem.data() + m_pcieMem.size());
}

void Card::powerCycle(uint64_t nowUs) {
    m_touched = true;
    build(nowUs);
    const NvRegion& e = m_eepromMem;
    // An EEPROM whose data line stays high reads as blank.
    if (pcieCore())
        m_identity = coreIdentity(*m_spec.info);
    else
        m_identity = m_spec.parsed.eeprom.absent ? chipIdentity(m_spec.chip)
                                                 : identityFromEeprom(m_spec.chip, e.data(), e.size());
    m_cardFn->setIdentity(m_identity);
    m_cardFn->resetRegisters();
    // The PEX 8111 loads its own EEPROM as it comes out of reset.
    if (m_bridgeFn) m_bridgeFn->powerUp(bridgeEepromAnswer());
    m_mailbox->clear();
    m_fpga->powerCycle(nowUs);
    pinsChanged(nowUs);
    m_mcu->powerCycle(nowUs);
    m_configured = m_fpga->configured(nowUs);
    // The system enumerates the cards at boot, after their FPGAs loaded: a
    // PCIe core that came up gets its BARs.
    assignBars(m_fpga->state().configured);
    noteBusy();
    saveState();
}

bool Card::setOptions(const std::vector<std::string>& changes, uint64_t nowUs, std::string* error) {
    m_touched = true;
    std::vector<std::string> all = m_spec.options;
    CardSpec check;
    if (!mergeOptions(all, changes, error) || !CardSpec::make(m_spec.model, all, &check, error)) return false;

    // First what a technician does with the machine off (new content, another
    // bridge fitted) and the power-up after it; then the faults, which the
    // identity loaded at that power-up does not see.
    std::vector<std::string> offline, faults;
    for (const auto& c : changes) (optionKindOf(c) == OptionKind::Fault ? faults : offline).push_back(c);
    if (!offline.empty()) {
        std::vector<std::string> options = m_spec.options;
        CardSpec next;
        if (!mergeOptions(options, offline, error) || !CardSpec::make(m_spec.model, options, &next, error))
            return false;
        m_spec = next;
        if (!makeContent(partsDeterminedBy(offline), error)) return false;
        powerCycle(nowUs);
    }
    if (!faults.empty()) {
        std::vector<std::string> options = m_spec.options;
        CardSpec next;
        if (!mergeOptions(options, faults, error) || !CardSpec::make(m_spec.model, options, &next, error))
            return false;
        m_spec = next;
        applyFaults();
        noteBusy();
    }
    return true;
}

void Card::pinsChanged(uint64_t nowUs) {
    if (pcieCore()) return;  // no bridge line reaches the FPGA's configuration
    LineDrive drive;
    m_cardFn->contributeLines(drive);
    if (m_bridgeFn) m_bridgeFn->contributeLines(drive);
    m_fpga->applyLines(drive, nowUs);
}

bool Card::lineLevel(int line, uint64_t nowUs) {
    return m_fpga->lineLevel(line, nowUs);
}

void Card::beforeAccess(uint64_t nowUs) {
    m_touched = true;
    // Bytes on the link up to now, and what the microcontroller made of
    // them, happen before this access.
    if (m_fpga->configured(nowUs)) m_mailbox->advance(nowUs);
    takeReload();
    noteConfiguration(nowUs);
}

void Card::settle(uint64_t nowUs, bool final) {
    if (!m_touched || m_readOnly || !m_cardFn) return;
    if (m_fpga->configured(nowUs)) m_mailbox->advance(nowUs);
    if (final) m_mcu->requestScheduledReload();
    takeReload();
    noteConfiguration(nowUs);
    noteState();
    noteBusy();
}

void Card::afterAccess(uint64_t nowUs) {
    takeReload();
    noteConfiguration(nowUs);
    noteState();
    noteBusy();
}

// The application pulsed the FPGA's reload line: the FPGA loads again from
// its device, from the time of the pulse. On a PCIe-core card that takes the
// PCIe interface down: the link retrains and the function comes back
// without the BARs the system gave it.
void Card::takeReload() {
    uint64_t atUs = 0;
    if (!m_mcu->takeReloadRequest(&atUs)) return;
    m_fpga->reload(atUs);
    if (pcieCore()) assignBars(false);
}

void Card::assignBars(bool assigned) {
    if (!pcieCore() || !m_cardFn) return;
    if (assigned != m_barsAssigned) m_barsChanged = true;
    m_barsAssigned = assigned;
    if (assigned) {
        m_cardFn->setBars(m_placement.cardMemory0, m_placement.cardIo1, m_placement.cardMemory2);
        m_cardFn->setDecoding(true);
    } else {
        m_cardFn->setBars(0, 0, 0);
        m_cardFn->setDecoding(false);
    }
}

bool Card::answers(uint64_t nowUs) {
    return !pcieCore() || m_fpga->configured(nowUs);
}

bool Card::decodes(uint64_t nowUs) {
    return answers(nowUs) && (!pcieCore() || m_barsAssigned);
}

void Card::reenumerate(uint64_t nowUs) {
    if (!pcieCore() || m_barsAssigned || !answers(nowUs)) return;
    m_touched = true;
    assignBars(true);
    saveState();
}

void Card::noteConfiguration(uint64_t nowUs) {
    bool configured = m_fpga->configured(nowUs);
    if (m_configured && !configured) m_mailbox->clear();  // the mailbox is part of the configuration
    m_configured = configured;
}

void Card::noteState() {
    if (m_fpga->changeCount() != m_savedFpgaChanges || m_mcu->changeCount() != m_savedMcuChanges ||
        m_barsChanged)
        saveState();
}

bool Card::saveState(std::string* error) {
    if (m_dir.empty() || !m_cardFn || m_readOnly || !m_touched) return true;
    if (!m_fault.empty()) {
        if (error) *error = m_fault;
        return false;
    }
    nlohmann::json j;
    j["identity"] = {{"subsystem", m_identity.subsystem},
                     {"revision", m_identity.revision},
                     {"class_code", m_identity.classCode}};
    FpgaState f = m_fpga->state();
    j["fpga"] = {{"configured", f.configured}, {"version", f.version}};
    if (pcieCore()) {
        j["fpga"]["spictl"] = f.spictl;
        j["bars_assigned"] = m_barsAssigned;
    }
    j["mcu_mode"] = static_cast<int>(m_mcu->mode());
    j["sessions"] = m_sessions;
    j["plx_registers"] = m_cardFn->registers();
    if (m_bridgeFn)
        j["pex"] = {{"gpioctl", m_bridgeFn->gpioctl()},
                    {"main_index", m_bridgeFn->mainIndex()},
                    {"eeprom_loaded", m_bridgeFn->eepromLoad().bytes}};
    std::string why;
    if (!writeFileAtomic(path("state.json"), j.dump() + "\n", &why)) {
        // Saving again at the next access would fail the same way, and
        // going on would let the run pass for one the card remembers.
        m_fault = "card " + std::to_string(m_number) + ": cannot save its state: " + why;
        if (error) *error = m_fault;
        return false;
    }
    m_savedFpgaChanges = m_fpga->changeCount();
    m_savedMcuChanges = m_mcu->changeCount();
    m_barsChanged = false;
    return true;
}

bool Card::loadState(uint64_t nowUs, std::string* error) {
    std::string text;
    if (!readFile(path("state.json"), &text, error)) return false;
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        if (error) *error = path("state.json") + ": not a state file";
        return false;
    }
    try {
        const auto& id = j.at("identity");
        m_identity.subsystem = id.at("subsystem").get<uint32_t>();
        m_identity.revision = id.at("revision").get<uint8_t>();
        m_identity.classCode = id.at("class_code").get<uint32_t>();
        FpgaState f;
        f.configured = j.at("fpga").at("configured").get<bool>();
        f.version = j.at("fpga").at("version").get<uint8_t>();
        f.spictl = j.at("fpga").value("spictl", uint8_t{0});
        const bool barsAssigned = j.value("bars_assigned", true);
        int mode = j.at("mcu_mode").get<int>();
        m_sessions = j.value("sessions", uint64_t{0}) + (m_readOnly ? 0 : 1);
        std::vector<uint32_t> regs = j.at("plx_registers").get<std::vector<uint32_t>>();
        m_cardFn->setIdentity(m_identity);
        m_cardFn->restoreRegisters(regs);
        if (m_bridgeFn && j.contains("pex")) {
            // The loads of the last power-up, then what was written since.
            m_bridgeFn->restoreEepromLoad(j["pex"].contains("eeprom_loaded")
                                              ? j["pex"]["eeprom_loaded"].get<std::vector<uint8_t>>()
                                              : bridgeEepromAnswer());
            m_bridgeFn->restoreRegisters(j["pex"].at("gpioctl").get<uint32_t>(),
                                         j["pex"].at("main_index").get<uint32_t>());
        }
        m_fpga->restore(f);
        assignBars(barsAssigned);
        m_barsChanged = false;
        m_mcu->restore(mode >= 0 && mode <= 2 ? static_cast<McuMode>(mode) : McuMode::Off);
    } catch (const nlohmann::json::exception& e) {
        if (error) *error = path("state.json") + ": " + e.what();
        return false;
    }
    applyFaults();
    restoreBusy();
    // The FPGA sees the lines as the restored registers drive them.
    pinsChanged(nowUs);
    m_configured = m_fpga->configured(nowUs);
    return true;
}

namespace {

void putTime(uint8_t* at, uint64_t value) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t getTime(const uint8_t* at) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | at[i];
    return value;
}

// On disk a busy period is the time it ends, UINT64_MAX for never.
uint64_t timeOf(const BusyPeriod& busy) {
    return busy.forever ? UINT64_MAX : busy.endUs;
}

BusyPeriod periodOf(uint64_t time) {
    return time == UINT64_MAX ? BusyPeriod::never() : BusyPeriod::until(time);
}

}  // namespace

// A part that was busy when the last process ended goes on being busy: the
// next process meets it as the next program on a real machine would. Times
// taken on another clock (another boot of the machine, or a test's virtual
// clock) lie in a past that clock cannot compare: those periods are over.
void Card::restoreBusy() {
    const uint8_t* r = m_busyMem.data();
    if (m_busyMem.size() != kBusyBytes) return;
    std::string tag(reinterpret_cast<const char*>(r), kClockTagBytes);
    tag.resize(strnlen(tag.c_str(), kClockTagBytes));
    if (tag.empty() || tag != m_clockTag) return;
    const uint8_t* t = r + kClockTagBytes;
    m_eeprom->restoreBusy(periodOf(getTime(t)));
    if (m_spi) m_spi->restoreBusy(periodOf(getTime(t + 8)));
    m_fpga->restoreBusy(periodOf(getTime(t + 16)), periodOf(getTime(t + 24)));
    m_mcu->restoreBusy(periodOf(getTime(t + 32)));
}

// Records when the parts' busy periods end whenever that changes, with one
// write, so a process killed at any moment leaves them in place.
void Card::noteBusy() {
    if (m_readOnly || m_busyMem.size() != kBusyBytes) return;
    const FpgaState f = m_fpga->state();
    const uint64_t times[kBusyTimes] = {timeOf(m_eeprom->busyPeriod()),
                                        m_spi ? timeOf(m_spi->busyPeriod()) : 0, timeOf(f.epcsBusy),
                                        timeOf(f.loading), timeOf(m_mcu->busyPeriod())};
    if (m_busyWritten && memcmp(times, m_busySaved, sizeof times) == 0) return;
    uint8_t r[kBusyBytes] = {};
    memcpy(r, m_clockTag.data(), m_clockTag.size());
    for (size_t i = 0; i < kBusyTimes; ++i) putTime(r + kClockTagBytes + 8 * i, times[i]);
    m_busyMem.write(0, r, kBusyBytes);
    memcpy(m_busySaved, times, sizeof times);
    m_busyWritten = true;
}

bool Card::intactOrWhy(std::string* why, bool lookAtFiles) const {
    if (!m_fault.empty()) {
        if (why) *why = m_fault;
        return false;
    }
    for (const NvRegion* r :
         {&m_eepromMem, &m_pcieMem, &m_epcsMem, &m_flashMem, &m_bootMem, &m_busyMem, &m_flashRegs})
        if (!r->intact(why, lookAtFiles)) return false;
    return true;
}

}  // namespace sim
