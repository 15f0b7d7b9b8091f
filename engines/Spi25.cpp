#include "Spi25.h"

#include "../chips/Spi25.h"
#include "../platform/platform.h"

namespace spi25 {

namespace {

// A command byte on a selected part.
void Command(SpiPort& port, uint8_t command) {
    port.Select();
    port.Send(command, SpiBitOrder::MsbFirst);
}

}  // namespace

void WriteEnable(SpiPort& port) {
    Command(port, CMD_WRITE_ENABLE);
    if (port.Failed()) return;
    port.Deselect();
}

uint8_t ReadStatus(SpiPort& port) {
    Command(port, CMD_READ_STATUS);
    const uint8_t status = port.Receive(SpiBitOrder::MsbFirst);
    port.Deselect();
    return status;
}

bool WaitWhileBusy(SpiPort& port, const BusyPoll& poll) {
    for (int n = 0; n < poll.reads; ++n) {
        if (!poll.readFirst || n > 0) {
            Sleep(poll.intervalMs);
            pumpMessage();
        }
        if (!(ReadStatus(port) & STATUS_WIP)) return n < poll.countedReads;
    }
    if (poll.readFirst) {
        Sleep(poll.intervalMs);
        pumpMessage();
    }
    return false;
}

bool WaitUntilIdle(SpiPort& port, unsigned maxMs, unsigned intervalMs) {
    // The time waited is counted in the sleeps, each at least as long as
    // asked: a tick count moves in steps (of 15.6 ms on Windows by default)
    // and may pass the longest cycle well before the part has had it.
    unsigned waitedMs = 0;
    for (;;) {
        // The last read starts once the longest cycle is over: a part that
        // is still busy then will not finish by itself.
        const bool last = waitedMs >= maxMs;
        // All ones is no part driving the line (absent or dead): nothing to
        // wait for; the command that follows finds out.
        const uint8_t status = ReadStatus(port);
        const bool busy = status != 0xFF && (status & STATUS_WIP) != 0;
        if (!busy || port.Failed()) return !busy;
        if (last) return false;
        Sleep(intervalMs);
        waitedMs += intervalMs;
        pumpMessage();
    }
}

void SendAddress(SpiPort& port, uint32_t address, int addressBytes) {
    for (int i = addressBytes - 1; i >= 0; --i)
        port.Send(static_cast<uint8_t>((address >> (8 * i)) & 0xFF), SpiBitOrder::MsbFirst);
}

void SendData(SpiPort& port, const uint8_t* data, unsigned count, SpiBitOrder order) {
    if (!data) count = 0;
    unsigned i = 0;
    for (; i + 3 <= count && !port.Failed(); i += 3) {
        for (unsigned k = 0; k < 3; ++k) port.Send(data[i + k], order);
        pumpMessage();
    }
    for (; i < count && !port.Failed(); ++i) port.Send(data[i], order);
}

void Read(SpiPort& port, uint32_t address, int addressBytes, uint8_t* data, unsigned count,
          SpiBitOrder order) {
    Command(port, CMD_READ);
    SendAddress(port, address, addressBytes);
    for (unsigned i = 0; i < count && data && !port.Failed(); ++i) {
        const uint8_t byte = port.Receive(order);
        if (port.Failed()) return;
        data[i] = byte;
    }
    if (port.Failed()) return;
    port.Deselect();
}

void PageProgram(SpiPort& port, uint32_t address, int addressBytes, const uint8_t* data, unsigned count,
                 SpiBitOrder order) {
    WriteEnable(port);
    if (port.Failed()) return;
    Command(port, CMD_PAGE_PROGRAM);
    SendAddress(port, address, addressBytes);
    SendData(port, data, count, order);
    if (port.Failed()) return;
    port.Deselect();
}

void BulkErase(SpiPort& port) {
    Command(port, CMD_BULK_ERASE);
    port.Deselect();
}

uint8_t ReadSiliconId(SpiPort& port) {
    Command(port, CMD_SILICON_ID);
    for (int i = 0; i < 3; ++i) port.Send(0x00, SpiBitOrder::MsbFirst);
    const uint8_t id = port.Receive(SpiBitOrder::MsbFirst);
    port.Deselect();
    return id;
}

}  // namespace spi25
