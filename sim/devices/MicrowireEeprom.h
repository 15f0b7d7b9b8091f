// A 93C56/93C66-class Microwire serial EEPROM: 16-bit words, 8 address bits,
// the bridge chip's configuration EEPROM. Modelled on its pins.
#pragma once

#include <cstdint>

#include "../NvRegion.h"
#include "../Timing.h"
#include "../hw/Microwire.h"
#include "BusyPeriod.h"

namespace sim {

struct MicrowireFaults {
    bool absent = false;      // DO stays high whatever happens
    bool neverReady = false;  // a started write never completes
    int stuckBit = -1;        // 0..15: this bit of every word does not take a write
};

class MicrowireEeprom {
public:
    static constexpr unsigned kWords = microwire::kWords;
    // `words` holds kWords words in address order, each high byte first.
    MicrowireEeprom(NvRegion& words, const Timing& timing);
    void setFaults(const MicrowireFaults& faults) { m_faults = faults; }

    // The host drives chip select, clock and data in; called whenever any of
    // them may have changed. Edges are detected against the last call.
    void drive(bool cs, bool sk, bool di, uint64_t nowUs);
    // Level of DO now (high while deselected or idle after a command).
    bool dataOut(uint64_t nowUs);
    // Whether the part drives DO now (status while selected and idle, data
    // being read out); otherwise DO floats.
    bool drivesDataOut() const {
        return !m_faults.absent && m_cs && (m_phase == Phase::Idle || m_phase == Phase::ReadOut);
    }

    uint16_t word(unsigned address) const;
    bool writeInProgress(uint64_t nowUs) const;
    // Set by EWEN, cleared by EWDS (and at power-up): a part left enabled
    // takes any stray write command, e.g. from noise on the lines.
    bool writeEnabled() const { return m_writeEnabled; }
    // The self-timed write cycle, kept by the rack beyond the process.
    const BusyPeriod& busyPeriod() const { return m_busy; }
    void restoreBusy(const BusyPeriod& busy) { m_busy = busy; }

private:
    // Where the part is in the command it is receiving.
    enum class Phase : uint8_t {
        Idle,      // selected, waiting for the start bit (DO shows ready/busy)
        Command,   // shifting in the two opcode bits and the address
        Data,      // shifting in the 16 data bits of WRITE or WRAL
        ReadOut,   // shifting out data words
        Complete,  // command complete; further clocks are ignored
    };
    // What a complete command asks for when chip select falls.
    enum class Pending : uint8_t { None, Write, WriteAll, Erase, EraseAll };

    bool busy(uint64_t nowUs) const;
    void onRisingEdge(bool di, uint64_t nowUs);
    void decodeCommand();
    void endCommand(uint64_t nowUs);
    void program(unsigned address, uint16_t value);

    NvRegion& m_mem;
    const Timing& m_timing;
    MicrowireFaults m_faults;
    bool m_cs = false, m_sk = false;
    bool m_writeEnabled = false;
    BusyPeriod m_busy;
    Phase m_phase = Phase::Idle;
    uint32_t m_shift = 0;  // bits received in this phase, latest in bit 0
    int m_bits = 0;        // how many
    unsigned m_opcode = 0;
    unsigned m_address = 0;
    bool m_do = true;
    int m_outBit = 0;  // bit of m_outWord on DO now; -1 = the dummy 0
    uint16_t m_outWord = 0;
    Pending m_pending = Pending::None;
    uint16_t m_data = 0;
};

}  // namespace sim
