// A serial-memory port: the lowest layer under the 25-series commands. Each
// implementation moves bytes over one kind of wiring (the FPGA configuration
// lines bit by bit, the PEX 8111's EECTL byte shifter, ...); the commands in
// Spi25.h are written once over this interface.
#pragma once

#include <cstdint>

enum class SpiBitOrder { MsbFirst, LsbFirst };

class SpiPort {
public:
    virtual ~SpiPort() = default;

    // Chip select on. Ports whose every byte transfer drives chip select
    // themselves have nothing to do here.
    virtual void Select() = 0;
    // Chip select off: ends the command (and starts a write the part has
    // been given).
    virtual void Deselect() = 0;
    // One byte out, and one byte in (the port drives its data line low
    // meanwhile), in the given bit order.
    virtual void Send(uint8_t byte, SpiBitOrder order) = 0;
    virtual uint8_t Receive(SpiBitOrder order) = 0;
    // True once a transfer could not be completed; the port has then ended
    // the command itself, and further bytes are not sent.
    virtual bool Failed() const { return false; }
};
