// The internal communication port: a byte stream to the card's
// microcontroller over the FPGA's mailbox. The card fills a 64-byte receive
// ring at RPTR; the host fetches through the RAMA/RAMD window into its own
// 1000-byte buffer. Transmissions of up to 63 bytes go into the same window at
// addresses 0x01..0x3F and are started with TBUF/TSTART.
#include <cstdint>
#include <cstring>

#include "../card/VjxPci.h"
#include "McuLink.h"

namespace {

// RPTR values of 64 and above are taken as 0.
uint8_t ringPosition(uint8_t value) {
    return value >= fpga::kRingSize ? 0 : value;
}

uint32_t elapsedSince(uint32_t t0) {
    return static_cast<uint32_t>(GetTickCount()) - t0;
}

}  // namespace

int CVjxPci::Com_open() {
    if (m_comOpen) return 0;
    WriteCFG(fpga::CFG_PORT_ON);
    WriteTRCON(fpga::TRCON_OPEN);
    m_comTimeout = mcu::kDefaultTimeoutMs;
    // Skip whatever the ring held before.
    m_comRingIndex = ringPosition(ReadRPTR());
    m_comOpen = 1;
    m_comCount = 0;
    return 1;
}

int CVjxPci::Com_close() {
    if (!m_comOpen) return 0;
    WriteCFG(fpga::CFG_OFF);
    m_comOpen = 0;
    return 1;
}

int CVjxPci::Com_setTimeout(int ms) {
    if (!m_comOpen) return 0;
    int previous = m_comTimeout;
    m_comTimeout = ms;
    return previous;
}

int CVjxPci::Com_readFlush() {
    if (!m_comOpen) return 0;
    m_comRingIndex = ringPosition(ReadRPTR());
    m_comCount = 0;
    return 1;
}

int CVjxPci::Com_readRam(int position) {
    WriteRAMA(static_cast<uint8_t>(position & 0xFF));
    return ReadRAMD();
}

int CVjxPci::Com_readPoll() {
    if (!m_comOpen) return 0;
    // One look at the card's write index; bytes that arrive meanwhile wait
    // for the next poll.
    const uint8_t w = ringPosition(ReadRPTR());
    while (m_comRingIndex != w) {
        const uint8_t end = m_comRingIndex > w ? fpga::kRingSize : w;
        while (m_comRingIndex < end) {
            const int p = m_comRingIndex++;
            const int byte = Com_readRam(p);
            if (m_comCount >= mcu::kBufferSize) return 0;  // buffer full: the byte is lost
            m_comBuffer[m_comCount++] = static_cast<unsigned char>(byte);
        }
        if (m_comRingIndex >= fpga::kRingSize) m_comRingIndex = 0;
    }
    return 1;
}

int CVjxPci::Com_readWait() {
    if (!m_comOpen) return 0;
    const unsigned c0 = m_comCount;
    const uint32_t t0 = static_cast<uint32_t>(GetTickCount());
    if (!Com_readPoll()) return 0;
    for (;;) {
        if (m_comCount != c0) return 1;
        // The timeout bounds the silence before the next byte.
        if (elapsedSince(t0) > static_cast<uint32_t>(m_comTimeout)) return 0;
        Sleep(1);
        pumpMessage();
        if (!Com_readPoll()) return 0;
    }
}

int CVjxPci::Com_read(char* dest, unsigned long count) {
    if (!m_comOpen) return 0;
    if (count > 0 && !dest) return 0;
    while (m_comCount < count) {
        if (!Com_readWait()) return 0;  // what arrived stays buffered
    }
    if (count > 0) {
        std::memcpy(dest, m_comBuffer, count);
        m_comCount -= static_cast<unsigned>(count);
        std::memmove(m_comBuffer, m_comBuffer + count, m_comCount);
    }
    return 1;
}

int CVjxPci::Com_read() {
    char byte = 0;
    if (!Com_read(&byte, 1)) return -1;
    return static_cast<unsigned char>(byte);
}

void CVjxPci::Com_writeRam(int index, int value) {
    WriteRAMA(static_cast<uint8_t>((index + 1) & 0xFF));
    WriteRAMD(static_cast<uint8_t>(value & 0xFF));
}

int CVjxPci::Com_writeWait() {
    const uint32_t t0 = static_cast<uint32_t>(GetTickCount());
    if (!m_comOpen) return 0;
    for (;;) {
        Com_readPoll();  // keep the receive ring drained meanwhile
        if (!(ReadIRQF() & fpga::IRQF_TX_BUSY)) return 1;
        if (elapsedSince(t0) > static_cast<uint32_t>(m_comTimeout)) {
            return (ReadIRQF() & fpga::IRQF_TX_BUSY) ? 0 : 1;
        }
        Sleep(1);
    }
}

int CVjxPci::Com_writeLimit(const char* bytes, unsigned long count) {
    // The transmit window holds 63 bytes; anything longer would spill into
    // the receive ring's addresses.
    if (count > fpga::kTransmitMax || (count > 0 && !bytes)) return 0;
    if (!m_comOpen || !Com_writeWait()) return 0;
    for (unsigned long i = 0; i < count; ++i) {
        Com_writeRam(static_cast<int>(i), static_cast<unsigned char>(bytes[i]));
        if (i % mcu::kPollEvery == 0) Com_readPoll();
    }
    WriteTBUF(static_cast<uint8_t>(count & 0xFF));
    WriteTSTART(0);
    return 1;
}

int CVjxPci::Com_write(const char* bytes, unsigned long count) {
    if (!m_comOpen) return 0;
    constexpr unsigned long chunk = fpga::kTransmitMax;
    if (count <= chunk) return Com_writeLimit(bytes, count);
    // Full chunks first, then the rest (always 1..63 bytes).
    const unsigned long full = (count - (chunk + 1)) / chunk + 1;
    for (unsigned long k = 0; k < full; ++k) {
        if (!Com_writeLimit(bytes + k * chunk, chunk)) return 0;
    }
    return Com_writeLimit(bytes + full * chunk, count - full * chunk);
}

int CVjxPci::Com_write(char byte) {
    return Com_write(&byte, 1);
}
