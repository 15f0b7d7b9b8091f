// A 25-series SPI serial memory, byte by byte: the command set the 25xx
// EEPROM behind the PEX 8111 and the FPGA's EPCS configuration device have in
// common, with what tells them apart (address length, page size, whether a
// program only clears bits, the EPCS's silicon ID and erases) given by the
// part. Wire-level details (bit order, clock edges, a byte shifter) belong to
// whoever moves the bytes: Pex8111Eectl for the EEPROM, FpgaBlock for the
// EPCS.
//
// A command is an opcode byte after chip select falls. READ and RDSR answer
// in the byte slots that follow; WREN, WRDI, WRITE (page program) and the
// erases act when chip select rises, and only when it rises on a byte
// boundary after the right number of bytes. WRITE and the erases need the
// write-enable latch and clear it. The data bytes of a WRITE fill a page
// buffer from the address on and wrap inside the page, so more than a page
// overwrites the first bytes. While a write or erase cycle runs the part
// ignores every command but RDSR, which shows WIP and WEL.
//
// A started cycle is stored at once: the part finishes it on its own, so the
// stored content is the content the cycle will leave.
//
// The serial flash of the PCIe-core cards adds (see hw/SerialFlash.h): the
// JEDEC ID (0x9F), the unique ID (0x4B), any-register read and write
// (0x65/0x71, register address as long as the part's 3-byte mode, RDAR with
// one dummy byte), and the 4-byte-address commands: fast read 0x0C (one
// dummy byte), 64 KiB block erase 0xDC, page program 0x12. A non-volatile
// register write needs the latch, clears it and takes a write cycle, like a
// program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "../NvRegion.h"
#include "../Rules.h"
#include "../Timing.h"
#include "BusyPeriod.h"

namespace sim {

struct SpiMemoryPart {
    int addressBytes = 2;
    size_t pageSize = 32;
    bool programClearsBits = false;  // flash: a program only clears bits; EEPROM: bytes are replaced
    int siliconId = -1;              // answered to READ ID; -1: no such command
    bool erases = false;             // bulk and sector erase
    size_t sectorSize = 64 * 1024;
    uint64_t writeUs = 0;  // write cycle / page program
    uint64_t bulkEraseUs = 0;
    uint64_t sectorEraseUs = 0;
    // The serial flash's additions.
    int jedecManufacturer = -1;  // answered to 0x9F; -1: no such command
    uint16_t jedecDevice = 0;
    bool fourByteCommands = false;  // 0x0C, 0xDC, 0x12
    bool anyRegister = false;       // 0x65, 0x71 and the unique ID 0x4B
    uint64_t uniqueId = 0;
    uint64_t registerWriteUs = 0;  // non-volatile register write (tW)

    // The 25xx EEPROM: 16-bit addresses, 32-byte pages.
    static SpiMemoryPart eeprom25(const Timing& timing);
    // An EPCS with that silicon ID: 24-bit addresses, 256-byte pages.
    static SpiMemoryPart epcs(uint8_t siliconId, const Timing& timing);
    // The PCIe-core cards' 64 Mbit serial flash (hw/SerialFlash.h) with that
    // JEDEC manufacturer and device ID.
    static SpiMemoryPart serialFlash(uint8_t manufacturer, uint16_t device, uint64_t uniqueId,
                                     const Timing& timing);
};

struct SpiMemoryFaults {
    bool dead = false;        // answers nothing, stores nothing
    bool eraseHangs = false;  // an erase never completes
    bool writeHangs = false;  // a write cycle never completes
};

class SpiMemory {
public:
    SpiMemory(NvRegion& memory, const SpiMemoryPart& part);
    void setPart(const SpiMemoryPart& part) { m_part = part; }
    void setFaults(const SpiMemoryFaults& faults) { m_faults = faults; }

    // Chip select. Deselecting ends the command; `byteBoundary` false when
    // chip select rose in the middle of a byte (the command then does not act).
    void select(bool selected, uint64_t nowUs, bool byteBoundary = true);
    bool selected() const { return m_selected; }
    // What the part drives in the coming byte slot; false while its output
    // floats.
    bool output(uint8_t* byte) const;
    // A complete byte arrived from the host.
    void input(uint8_t byte, uint64_t nowUs);
    // One full-duplex byte: the byte the part drives (0xFF while floating),
    // then the host's byte taken in.
    uint8_t exchange(uint8_t mosi, uint64_t nowUs);

    bool busy(uint64_t nowUs) const { return m_busy.at(nowUs); }
    // A command other than RDSR while the part is busy breaks `rule`.
    void setRules(const Rules* rules, const char* rule) {
        m_rules = rules;
        m_busyRule = rule;
    }
    const BusyPeriod& busyPeriod() const { return m_busy; }
    void restoreBusy(const BusyPeriod& busy) { m_busy = busy; }
    // Power-up: latch clear, no command; a cycle that was running is over.
    void powerUp();

    size_t size() const { return m_mem.size(); }

    // The non-volatile registers of a part with any-register access (one
    // byte per register address 0..4), kept beside the memory. The volatile
    // copies start as the part loaded them at power-up (a volatile write of
    // an earlier process is not kept).
    void setRegisters(NvRegion* registers);
    uint8_t registerValue(uint32_t address, uint64_t nowUs) const;

private:
    uint8_t status(uint64_t nowUs) const;
    void execute(uint64_t nowUs);
    void startCycle(uint64_t busyUs, bool hangs, uint64_t nowUs);
    uint32_t wrap(uint32_t address) const;
    int addressLength(uint8_t command) const;
    int dummyLength(uint8_t command) const;
    void writeRegister(uint64_t nowUs);
    void loadVolatileRegisters();

    NvRegion& m_mem;
    NvRegion* m_registers = nullptr;
    uint8_t m_volatile[5] = {};  // CR1V.. as loaded at power-up or written since
    SpiMemoryPart m_part;
    SpiMemoryFaults m_faults;
    const Rules* m_rules = nullptr;
    const char* m_busyRule = nullptr;
    bool m_wel = false;
    BusyPeriod m_busy;

    // The command in progress.
    bool m_selected = false;
    int m_bytes = 0;  // complete bytes of this command, opcode included
    uint8_t m_command = 0;
    bool m_ignored = false;  // refused (part busy) or not known
    uint32_t m_address = 0;
    bool m_outActive = false;
    uint8_t m_outByte = 0xFF;
    std::vector<uint8_t> m_page;
    std::vector<bool> m_given;
    bool m_anyData = false;
    uint8_t m_registerData = 0;  // WRAR's value byte
};

}  // namespace sim
