// The card's microcontroller behind the FPGA mailbox: 64 KiB flash ROM, the
// Boot Status Byte and Boot Loader Jump Bit, the application firmware (a
// model driven by the version record in the flash image) and the ISP boot
// loader in ROM. It talks over a serial link; the Mailbox carries the bytes.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "../NvRegion.h"
#include "../Rules.h"
#include "../Timing.h"
#include "../hw/CardFpga.h"
#include "BusyPeriod.h"

namespace sim {

struct McuOptions {
    bool silent = false;              // never answers anything
    int shortAnswer = -1;             // 0..4: the application answers only N of the 5 version bytes
    bool bootRequestIgnored = false;  // the reset's boot-loader request has no effect
    bool appIgnoresS = false;         // the application ignores "S"
    int ispManufacturer = 0x58;       // identification the boot loader reports
    long ispDevice = 0xD7ECEF;
    bool refuseRecords = false;  // programming records answered 'X'...
    bool bootLoaderStaysAfterStart = false;
    bool appStartFails = false;  // the start record does not bring up an application
    bool appIgnoresT = false;    // the application neither answers "T" nor reloads the FPGA
};

enum class McuMode : uint8_t { Off = 0, Application = 1, BootLoader = 2 };

// The 5 bytes the application answers to "R", and where they live in the
// application image: kVersionRecordOffset holds the 6-byte magic "VJXAPP"
// followed by major, second minor character, first minor character,
// has-minor flag and ISP version number (the order of the answer).
namespace firmware_image {
constexpr unsigned kVersionRecordOffset = 0x0040;
constexpr const char kMagic[7] = "VJXAPP";
struct Version {
    uint8_t bytes[5] = {};
};
// "9.14" -> {9, '4', '1', 1, isp}; "9" -> {9, 0, 0, 0, isp}; false for bad text.
bool versionFromText(const std::string& text, uint8_t isp, Version* out);
std::string textFromVersion(const Version& v);
// A raw firmware image of `size` bytes (whole 16 KiB blocks at most 64 KiB)
// whose application answers `version`; the last 16 bytes of every 16 KiB
// block are 0xFF (room for the segment trailer).
std::vector<uint8_t> make(const Version& version, size_t size);
// The version record of a flash image, if it holds an application.
bool find(const uint8_t* flash, size_t size, Version* out);
}  // namespace firmware_image

class Microcontroller {
public:
    // flash: 64 KiB; boot: 2 bytes, [0] Boot Status Byte, [1] Boot Loader Jump Bit.
    Microcontroller(NvRegion& flash, NvRegion& boot, const Timing& timing, const McuOptions& options);
    void setOptions(const McuOptions& options);
    void setRules(const Rules* rules) { m_rules = rules; }

    // CFG register bits as the FPGA drives them: bit 0 reset (held while
    // set; the MCU starts when it falls), bit 2 boot-loader request.
    void setControl(bool reset, bool bootRequest, uint64_t nowUs);
    // A byte has arrived from the host at nowUs.
    void receive(uint8_t byte, uint64_t nowUs);
    // Takes the next byte the MCU starts sending at or before nowUs (with
    // that start time); false when none is due yet.
    bool nextOutput(uint64_t nowUs, uint8_t* byte, uint64_t* startUs);
    // Earliest time the MCU will send its next byte (UINT64_MAX: none queued).
    uint64_t nextOutputTime() const;

    // The application asked the FPGA to reload its configuration ("T"); the
    // time it pulsed the reload line goes to `atUs`.
    bool takeReloadRequest(uint64_t* atUs = nullptr);
    // The process that runs the simulation ends: a reload the application
    // has scheduled still happens (at its time), so it is requested now.
    void requestScheduledReload();

    McuMode mode() const { return m_mode; }
    void restore(McuMode mode);
    // Until when the part does not listen (start-up after reset, flash
    // programming or erase), kept by the rack beyond the process.
    const BusyPeriod& busyPeriod() const { return m_busy; }
    void restoreBusy(const BusyPeriod& busy) { m_busy = busy; }
    uint64_t changeCount() const { return m_changes; }
    void powerCycle(uint64_t nowUs);  // reset as at power-on

    uint8_t bsb() const;
    uint8_t bljb() const;
    // Version text of the application now running ("" when none runs).
    std::string runningVersion() const;

private:
    // Something the MCU does at a time of its own: send a byte, or act once
    // the bytes queued before have gone out.
    enum class OutKind : uint8_t { Byte, EnterBootLoader, Reload };
    struct Out {
        uint64_t atUs;
        OutKind kind;
        uint8_t byte;
    };
    // Where the boot loader is: measuring the host's rate (it understands
    // nothing before the first "U"), between records, inside one.
    enum class Parse : uint8_t { Autobaud, Idle, Record };
    static constexpr unsigned kBsbIndex = 0;  // in the boot region
    static constexpr unsigned kBljbIndex = 1;

    void setMode(McuMode mode);
    McuMode modeAfterReset(bool bootRequest) const;
    void start(McuMode mode, uint64_t nowUs);
    void send(uint64_t atUs, uint8_t byte);
    void sendText(uint64_t atUs, const char* text);
    void sendHex(uint64_t atUs, uint8_t value);
    void schedule(uint64_t atUs, OutKind kind, uint8_t byte = 0);
    bool applicationPresent() const;
    void broken(uint64_t nowUs, const char* rule, const std::string& detail) const;

    void applicationReceive(uint8_t byte, uint64_t nowUs);
    void bootLoaderReceive(uint8_t byte, uint64_t nowUs);
    void executeRecord(uint64_t nowUs);
    void programRecord(unsigned address, const uint8_t* data, unsigned length, uint64_t nowUs);
    void commandRecord(const uint8_t* data, unsigned length, uint64_t nowUs);
    void displayRecord(const uint8_t* data, unsigned length, uint64_t nowUs);
    void readRecord(const uint8_t* data, unsigned length, uint64_t nowUs);
    void startApplication(uint64_t nowUs);
    void writeBootByte(unsigned index, uint8_t value);

    NvRegion& m_flash;
    NvRegion& m_boot;
    const Timing& m_timing;
    McuOptions m_options;
    const Rules* m_rules = nullptr;
    bool m_resetHeld = false;
    uint64_t m_resetSinceUs = 0;
    McuMode m_modeBeforeReset = McuMode::Off;
    uint64_t m_bootHoldUntilUs = 0;   // the boot request must stay until then
    bool m_bootRequested = false;     // the last reset ended with the request
    uint64_t m_resetStartEndsUs = 0;  // start-up after the last reset ends
    BusyPeriod m_busy;                // bytes arriving earlier are lost (start-up, flash busy)
    std::deque<Out> m_out;            // in time order
    bool m_reloadRequested = false;
    uint64_t m_reloadAtUs = 0;
    Parse m_parse = Parse::Idle;
    std::vector<uint8_t> m_record;  // length, address, type, data, checksum
    bool m_highNibble = true;
    McuMode m_mode = McuMode::Off;
    uint64_t m_changes = 0;
};

struct LinkOptions {
    unsigned baud = 115200;
    double noise = 0.0;  // probability that a byte is corrupted or dropped
    uint64_t seed = 1;
};

// The FPGA's mailbox registers (space 2) and the serial link to the
// microcontroller: 64-byte receive ring written at RPTR (wrapping, bytes the
// host did not fetch in time are overwritten), transmit window RAMA 1..63,
// TBUF, TSTART, IRQF bit 0 busy while a transmission is shifted out.
class Mailbox {
public:
    Mailbox(Microcontroller& mcu, const Timing& timing, const LinkOptions& link);
    void setLink(const LinkOptions& link);
    void setRules(const Rules* rules) { m_rules = rules; }

    // Register access at a space-2 offset (CFG 0x44, IRQF 0x88, TRCON 0x8C,
    // RPTR 0x94, TBUF 0x98, RAMA 0xA0, RAMD 0xA4, TSTART 0xB0, ...). The
    // caller has already checked that the FPGA is configured.
    uint8_t read(unsigned offset, uint64_t nowUs);
    void write(unsigned offset, uint8_t value, uint64_t nowUs);
    // Lets time pass: delivers bytes on the link up to nowUs.
    void advance(uint64_t nowUs);
    // The FPGA lost its configuration: ring, window and link are cleared.
    void clear();

    // Bytes put on the wire in each direction since the mailbox was made
    // (benchmarks weigh them with the link's byte time).
    struct Stats {
        uint64_t bytesToMcu = 0;
        uint64_t bytesToHost = 0;
    };
    const Stats& stats() const { return m_stats; }

private:
    static constexpr unsigned kRingSize = card_regs::kRingSize;
    struct InFlight {
        uint64_t arrivalUs;
        uint8_t byte;
    };

    uint64_t byteUs() const;
    bool portOn() const;
    bool transmitting() const { return m_txNext < m_txCount; }
    void latchStarted(uint64_t nowUs);
    // Applies the link's noise to a byte; false when the byte is lost.
    bool passNoise(uint8_t* byte);
    uint64_t random();
    void applyCfg(uint8_t value, uint64_t nowUs);
    void startTransmission(uint64_t nowUs);

    Microcontroller& m_mcu;
    const Timing& m_timing;
    const Rules* m_rules = nullptr;
    LinkOptions m_link;
    uint64_t m_random = 0;
    uint64_t m_lastUs = 0;

    uint8_t m_ring[kRingSize] = {};
    unsigned m_rptr = 0;
    uint8_t m_window[kRingSize] = {};
    uint8_t m_cfg = 0, m_trcon = 0, m_tbuf = 0, m_rama = 0;

    // Host to MCU: the transmission being shifted out.
    uint64_t m_txStartUs = 0;
    unsigned m_txCount = 0;
    unsigned m_txNext = 0;             // next byte to arrive at the MCU
    std::vector<uint8_t> m_txLatched;  // bytes the shifter has taken from the window

    // MCU to host: the line is busy until m_wireFreeUs.
    uint64_t m_wireFreeUs = 0;
    std::deque<InFlight> m_inFlight;
    Stats m_stats;
};

}  // namespace sim
