// The 25-series serial-memory commands (chips/Spi25.h), written once over
// any SpiPort: write enable, status, waiting while busy, read, page program,
// bulk erase and the EPCS silicon ID. Addresses go most significant byte
// first in `addressBytes` bytes (3 for the EPCS parts, 2 for a 25xx EEPROM).
#pragma once

#include <cstdint>

#include "SpiPort.h"

namespace spi25 {

void WriteEnable(SpiPort& port);
uint8_t ReadStatus(SpiPort& port);

// How a busy part is polled: up to `reads` status reads `intervalMs` apart,
// the first one before the first pause (readFirst) or after it; the part
// counts as done only when one of the first `countedReads` reads finds it
// idle. With readFirst a last pause follows the last busy read.
struct BusyPoll {
    unsigned intervalMs;
    int reads;
    int countedReads;
    bool readFirst;
};
// True when the write in progress ended in time.
bool WaitWhileBusy(SpiPort& port, const BusyPoll& poll);
// Before the first command to a part that an interrupted program may have
// left writing or erasing: true once its status shows no write in progress,
// false when it still does `maxMs` after the first look (the longest cycle
// the part may still be in). A status of all ones (no part answering) is
// not waited for.
bool WaitUntilIdle(SpiPort& port, unsigned maxMs, unsigned intervalMs);

// The address, most significant byte first.
void SendAddress(SpiPort& port, uint32_t address, int addressBytes);
// Data bytes in the given order; the dialog's messages are served after
// every third byte (a bit-banged byte takes dozens of register accesses).
void SendData(SpiPort& port, const uint8_t* data, unsigned count, SpiBitOrder order);

// READ: `count` bytes from `address` into `data`.
void Read(SpiPort& port, uint32_t address, int addressBytes, uint8_t* data, unsigned count,
          SpiBitOrder order);
// WREN, then PAGE PROGRAM of `count` bytes at `address`; deselecting
// starts the part's write cycle.
void PageProgram(SpiPort& port, uint32_t address, int addressBytes, const uint8_t* data, unsigned count,
                 SpiBitOrder order);
// WREN must have been sent.
void BulkErase(SpiPort& port);
// EPCS: three dummy bytes, then the silicon ID.
uint8_t ReadSiliconId(SpiPort& port);

}  // namespace spi25
