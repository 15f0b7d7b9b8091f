// The microcontroller: reset and start-up, the application firmware and the
// queue of what it sends. The boot loader is in McuBootLoader.cpp.
//
// Start-up (the part family's rule): the hardware samples the boot-loader
// request line when reset falls. With the request held the boot loader runs.
// Otherwise the boot loader runs when the Boot Loader Jump Bit is programmed
// (0) and the Boot Status Byte is not 0; else the application runs when the
// flash holds one, and with an erased flash nothing answers at all. The part
// needs mcuResetUs after reset before it listens; bytes arriving earlier
// are lost.
//
// The application answers "R" with the five bytes of its version record,
// "S" by setting the Boot Status Byte, answering "S" and restarting into
// the boot loader once that answer has gone out, "T" by answering "T" and
// 10 ms later pulsing the FPGA's reload line. Everything else (including "U") is
// ignored.
#include "Microcontroller.h"

#include <algorithm>
#include <limits>

#include "../hw/Isp.h"

namespace sim {

namespace {

// What "S" writes into the Boot Status Byte: the erased value, which sends
// every later reset to the boot loader while the jump bit is programmed.
constexpr uint8_t kBsbEnterBootLoader = 0xFF;
// After answering "T" the application gives the host time to fetch the
// answer before the FPGA, and with it the mailbox, goes away.
constexpr uint64_t kReloadDelayUs = 10000;

}  // namespace

Microcontroller::Microcontroller(NvRegion& flash, NvRegion& boot, const Timing& timing,
                                 const McuOptions& options)
    : m_flash(flash), m_boot(boot), m_timing(timing), m_options(options) {}

void Microcontroller::setOptions(const McuOptions& options) {
    m_options = options;
}

uint8_t Microcontroller::bsb() const {
    return m_boot.size() > kBsbIndex ? m_boot.at(kBsbIndex) : 0xFF;
}

uint8_t Microcontroller::bljb() const {
    return m_boot.size() > kBljbIndex ? m_boot.at(kBljbIndex) : 0xFF;
}

void Microcontroller::writeBootByte(unsigned index, uint8_t value) {
    if (m_boot.size() > index) m_boot.writeByte(index, value);
}

bool Microcontroller::applicationPresent() const {
    return firmware_image::find(m_flash.data(), m_flash.size(), nullptr);
}

std::string Microcontroller::runningVersion() const {
    firmware_image::Version v;
    if (m_mode != McuMode::Application || !firmware_image::find(m_flash.data(), m_flash.size(), &v))
        return "";
    return firmware_image::textFromVersion(v);
}

void Microcontroller::setMode(McuMode mode) {
    if (mode == m_mode) return;
    m_mode = mode;
    ++m_changes;
}

McuMode Microcontroller::modeAfterReset(bool bootRequest) const {
    if (bootRequest && !m_options.bootRequestIgnored) return McuMode::BootLoader;
    if (bljb() == 0 && bsb() != 0) return McuMode::BootLoader;
    return applicationPresent() ? McuMode::Application : McuMode::Off;
}

void Microcontroller::start(McuMode mode, uint64_t nowUs) {
    setMode(mode);
    m_busy = BusyPeriod::until(nowUs + m_timing.mcuResetUs);
    m_parse = Parse::Autobaud;
    m_record.clear();
}

void Microcontroller::setControl(bool reset, bool bootRequest, uint64_t nowUs) {
    if (reset && !m_resetHeld) {
        // Reset stops everything, including what the UART was about to send.
        m_resetHeld = true;
        m_resetSinceUs = nowUs;
        m_modeBeforeReset = m_mode;
        m_out.clear();
        m_parse = Parse::Idle;
        setMode(McuMode::Off);
    } else if (!reset && m_resetHeld) {
        m_resetHeld = false;
        if ((nowUs - m_resetSinceUs) * 1000 < mcu_reset::kPulseMinNs) {
            // Too short to reset the part: it runs on as it was.
            setMode(m_modeBeforeReset);
            broken(nowUs, rule::kMcuResetPulse,
                   "reset held " + std::to_string(nowUs - m_resetSinceUs) +
                       " us (at least two machine cycles, 2.2 us): the part was not reset");
            return;
        }
        m_bootRequested = bootRequest && !m_options.bootRequestIgnored;
        m_bootHoldUntilUs = nowUs + mcu_reset::kBootHoldUs;
        start(modeAfterReset(bootRequest), nowUs);
        m_resetStartEndsUs = m_busy.endUs;
    } else if (!reset && !bootRequest && m_bootRequested) {
        m_bootRequested = false;
        if (nowUs < m_bootHoldUntilUs) {
            // The request went away before the reset sequence read it: the
            // part starts as without it.
            setMode(modeAfterReset(false));
            broken(nowUs, rule::kMcuBootHold,
                   "boot-loader request dropped " +
                       std::to_string(nowUs + mcu_reset::kBootHoldUs - m_bootHoldUntilUs) +
                       " us after reset ended (held at least 1000 us): the boot loader is not entered");
        }
    }
}

void Microcontroller::broken(uint64_t nowUs, const char* rule, const std::string& detail) const {
    if (m_rules) m_rules->broken(nowUs, rule, detail);
}

void Microcontroller::powerCycle(uint64_t nowUs) {
    m_resetHeld = false;
    m_out.clear();
    m_reloadRequested = false;
    start(modeAfterReset(false), nowUs);
}

void Microcontroller::restore(McuMode mode) {
    // A saved mode from an earlier process; the part is running already.
    m_resetHeld = false;
    m_out.clear();
    m_busy = BusyPeriod();
    m_parse = Parse::Idle;
    m_record.clear();
    if (mode == McuMode::Application && !applicationPresent()) mode = McuMode::Off;
    m_mode = mode;
}

bool Microcontroller::takeReloadRequest(uint64_t* atUs) {
    const bool requested = m_reloadRequested;
    m_reloadRequested = false;
    if (requested && atUs) *atUs = m_reloadAtUs;
    return requested;
}

void Microcontroller::requestScheduledReload() {
    for (auto it = m_out.begin(); it != m_out.end(); ++it) {
        if (it->kind != OutKind::Reload) continue;
        m_reloadRequested = true;
        m_reloadAtUs = it->atUs;
        m_out.erase(it);
        return;
    }
}

void Microcontroller::send(uint64_t atUs, uint8_t byte) {
    if (m_options.silent) return;
    schedule(atUs, OutKind::Byte, byte);
}

void Microcontroller::sendText(uint64_t atUs, const char* text) {
    for (; *text; ++text) send(atUs, static_cast<uint8_t>(*text));
}

void Microcontroller::sendHex(uint64_t atUs, uint8_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    send(atUs, static_cast<uint8_t>(kDigits[value >> 4]));
    send(atUs, static_cast<uint8_t>(kDigits[value & 0x0F]));
}

void Microcontroller::schedule(uint64_t atUs, OutKind kind, uint8_t byte) {
    // In time order; what was scheduled first for the same time goes first.
    auto later = std::upper_bound(m_out.begin(), m_out.end(), atUs,
                                  [](uint64_t t, const Out& out) { return t < out.atUs; });
    m_out.insert(later, {atUs, kind, byte});
}

void Microcontroller::receive(uint8_t byte, uint64_t nowUs) {
    if (m_resetHeld) return;
    if (m_busy.at(nowUs)) {
        if (nowUs < m_resetStartEndsUs && m_mode != McuMode::Off)
            broken(nowUs, rule::kMcuStartup,
                   "a byte arrived " + std::to_string(m_resetStartEndsUs - nowUs) +
                       " us before the part had started after its reset: it is lost");
        return;
    }
    switch (m_mode) {
        case McuMode::Application:
            applicationReceive(byte, nowUs);
            break;
        case McuMode::BootLoader:
            bootLoaderReceive(byte, nowUs);
            break;
        case McuMode::Off:
            break;
    }
}

void Microcontroller::applicationReceive(uint8_t byte, uint64_t nowUs) {
    switch (byte) {
        case isp::kAppVersion: {
            firmware_image::Version v;
            if (!firmware_image::find(m_flash.data(), m_flash.size(), &v)) return;
            int count = 5;
            if (m_options.shortAnswer >= 0) count = std::min(m_options.shortAnswer, count);
            for (int i = 0; i < count; ++i) send(nowUs, v.bytes[i]);
            break;
        }
        case isp::kAppBootLoader:
            if (m_options.appIgnoresS) return;
            writeBootByte(kBsbIndex, kBsbEnterBootLoader);
            send(nowUs, isp::kAppBootLoader);
            schedule(nowUs, OutKind::EnterBootLoader);
            break;
        case isp::kAppReload:
            if (m_options.appIgnoresT) return;
            send(nowUs, isp::kAppReload);
            schedule(nowUs + kReloadDelayUs, OutKind::Reload);
            break;
        default:
            break;
    }
}

uint64_t Microcontroller::nextOutputTime() const {
    return m_out.empty() ? std::numeric_limits<uint64_t>::max() : m_out.front().atUs;
}

bool Microcontroller::nextOutput(uint64_t nowUs, uint8_t* byte, uint64_t* startUs) {
    while (!m_out.empty() && m_out.front().atUs <= nowUs) {
        const Out out = m_out.front();
        m_out.pop_front();
        switch (out.kind) {
            case OutKind::Byte:
                if (byte) *byte = out.byte;
                if (startUs) *startUs = out.atUs;
                return true;
            case OutKind::EnterBootLoader:
                // The application jumps into the boot loader once its answer
                // has left the UART; the boot loader then sets itself up.
                if (m_mode == McuMode::Application) start(McuMode::BootLoader, nowUs);
                break;
            case OutKind::Reload:
                m_reloadRequested = true;
                m_reloadAtUs = out.atUs;
                break;
        }
    }
    return false;
}

}  // namespace sim
