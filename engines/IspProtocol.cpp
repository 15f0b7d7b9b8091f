// The microcontroller's boot loader (ISP): entry by reset, detection, and the
// record protocol. Records are Intel HEX lines without terminator; the boot
// loader echoes every character and answers a complete record with result
// digits and ".\r\n".
#include <cstdio>
#include <cstring>

#include "../card/VjxPci.h"
#include "McuLink.h"

namespace {

// Value of an upper-case hexadecimal digit, -1 for anything else.
int hexDigit(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Block codes of the blank check and the flash range each one covers.
struct TBlankBlock {
    unsigned code;
    unsigned short start;
    unsigned short end;
};
constexpr TBlankBlock kBlankBlocks[] = {
    {0x00, 0x0000, 0x1FFF}, {0x20, 0x2000, 0x3FFF}, {0x40, 0x4000, 0x7FFF},
    {0x80, 0x8000, 0xBFFF}, {0xC0, 0xC000, 0xFFFF},
};

}  // namespace

int CVjxPci::doIspReset(int enterBootLoader) {
    // Reset pulse of 50 ms; the boot-loader request is held from the start of
    // the pulse until 2 ms after its end.
    WriteCFG(enterBootLoader ? fpga::CFG_MCU_RESET | fpga::CFG_BOOT_REQUEST : fpga::CFG_MCU_RESET);
    Sleep(50);
    if (enterBootLoader) {
        WriteCFG(fpga::CFG_BOOT_REQUEST);
        Sleep(2);
    }
    WriteCFG(fpga::CFG_OFF);
    Sleep(300);
    Com_close();
    Com_open();
    if (!m_comOpen) {
        if (m_log) m_log->MessageBox("Can't open internal communication port. ", m_lastError, 0x10, 0);
        return 0;
    }
    return 1;
}

int CVjxPci::doIspDetect() {
    for (int i = 0; i < mcu::kDetectTries; ++i) {
        if (!Com_write(isp::PROBE)) return 0;
        const int byte = Com_read();
        if (byte < 0) return 0;
        if (byte == isp::PROBE) return 1;
    }
    return 0;
}

namespace {

// Reads and drops received bytes until the line has been silent for the
// port's timeout.
void drain(CVjxPci& card) {
    for (int i = 0; i < mcu::kDrainLimit && card.Com_read() >= 0; ++i) {
    }
}

}  // namespace

int CVjxPci::sendIspRecord(unsigned char length, unsigned short address, unsigned char type,
                           unsigned char* data) {
    if (length > 0 && !data) {
        m_lastError = "No record data in sendIspRecord()";
        return 0;
    }
    const int saved = Com_setTimeout(mcu::kEchoSilenceMs);
    int writeOk = 1;

    // Body ":LLAAAATT" + data, and the checksum separately.
    char body[2 * 255 + 9 + 1];
    int n = std::snprintf(body, sizeof body, ":%02X%04X%02X", length, address, type);
    unsigned sum = length + (address >> 8) + (address & 0xFF) + type;
    for (unsigned i = 0; i < length; ++i) {
        n += std::snprintf(body + n, sizeof body - static_cast<size_t>(n), "%02X", data[i]);
        sum += data[i];
    }
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X", (256 - (sum & 0xFF)) & 0xFF);

    char echo[sizeof body];
    for (int resend = 0; resend < mcu::kRecordResends; ++resend) {
        int bodyOk = 0;
        for (int attempt = 0; attempt < mcu::kBodyAttempts && !bodyOk; ++attempt) {
            Com_setTimeout(n + mcu::kEchoExtraMs);
            if (writeOk) writeOk = Com_write(body, static_cast<unsigned long>(n));
            const int readOk = Com_read(echo, static_cast<unsigned long>(n));
            if (readOk && std::memcmp(echo, body, static_cast<size_t>(n)) == 0) {
                bodyOk = 1;
                break;
            }
            if (readOk) {
                // Wrong echo: two probes make the boot loader drop the record.
                const char probes[2] = {isp::PROBE, isp::PROBE};
                Com_write(probes, 2);
            } else {
                // Silent echo: drain, then probe until the boot loader stops
                // the resynchronisation with "X".
                Com_setTimeout(mcu::kEchoSilenceMs);
                drain(*this);
                for (int i = 0; i < mcu::kResyncTries; ++i) {
                    Com_write(isp::PROBE);
                    const int byte = Com_read();
                    if (byte < 0 || byte == isp::RESYNC_STOP) break;
                }
                drain(*this);
            }
            Com_setTimeout(mcu::kEchoSilenceMs);
            drain(*this);
            if (m_log) m_log->Append('.');
        }
        if (!bodyOk) break;

        // Checksum phase, with the body's timeout still in force.
        if (writeOk) writeOk = Com_write(checksum, 2);
        char csEcho[2];
        if (Com_read(csEcho, 2) && csEcho[0] == checksum[0] && csEcho[1] == checksum[1]) {
            Com_setTimeout(saved);
            return writeOk;
        }
        // The body came back but the checksum did not: the whole record
        // goes out again.
    }
    m_lastError = "Wrong echo in sendIspRecord()";
    Com_setTimeout(saved);
    return 0;
}

int CVjxPci::sendIspCmd(unsigned char type, unsigned char d0) {
    unsigned char data[] = {d0};
    return sendIspRecord(sizeof data, 0, type, data);
}

int CVjxPci::sendIspCmd(unsigned char type, unsigned char d0, unsigned char d1) {
    unsigned char data[] = {d0, d1};
    return sendIspRecord(sizeof data, 0, type, data);
}

int CVjxPci::sendIspCmd(unsigned char type, unsigned char d0, unsigned char d1, unsigned char d2) {
    unsigned char data[] = {d0, d1, d2};
    return sendIspRecord(sizeof data, 0, type, data);
}

int CVjxPci::sendIspDisplay(unsigned char type, unsigned short start, unsigned short end,
                            unsigned char kind) {
    unsigned char data[] = {static_cast<unsigned char>(start >> 8), static_cast<unsigned char>(start & 0xFF),
                            static_cast<unsigned char>(end >> 8), static_cast<unsigned char>(end & 0xFF),
                            kind};
    return sendIspRecord(sizeof data, 0, type, data);
}

int CVjxPci::getIspB(unsigned char* out) {
    char digits[2];
    if (!Com_read(digits, 2)) return 0;
    const int high = hexDigit(static_cast<unsigned char>(digits[0]));
    const int low = hexDigit(static_cast<unsigned char>(digits[1]));
    if (high >= 0 && out) *out = static_cast<unsigned char>(high << 4);
    if (high < 0 || low < 0) {
        m_lastError = "Value wrong in getIspB()";
        return 0;
    }
    if (out) *out = static_cast<unsigned char>((high << 4) | low);
    return 1;
}

int CVjxPci::getIspResult(int count, unsigned char* out) {
    int ok = 1;
    for (int i = 0; i < count && ok; ++i) {
        unsigned char byte = 0;
        ok = getIspB(&byte);
        if (out) out[i] = byte;
    }
    char ack[3];
    if (ok) ok = Com_read(ack, 3);
    if (!ok) {
        m_lastError = "Timeout in getIspResult()";
        return 0;
    }
    return ack[0] == isp::ANSWER_OK && ack[1] == '\r' && ack[2] == '\n';
}

int CVjxPci::getIspVersion(unsigned int* version) {
    unsigned char byte = 0;
    if (!sendIspCmd(isp::REC_READ, isp::READ_BOOT_VERSION, 0x00) || !getIspResult(1, &byte)) return 0;
    if (version) *version = byte;
    return 1;
}

int CVjxPci::getIspMan(unsigned long* manufacturer) {
    unsigned char byte = 0;
    if (!sendIspCmd(isp::REC_READ, isp::READ_SIGNATURE, isp::SIGNATURE_MANUFACTURER) ||
        !getIspResult(1, &byte))
        return 0;
    if (manufacturer) *manufacturer = byte;
    return 1;
}

int CVjxPci::getIspDev(unsigned long* device) {
    unsigned long id = 0;
    for (unsigned char which = 1; which <= 3; ++which) {
        unsigned char byte = 0;
        if (!sendIspCmd(isp::REC_READ, isp::READ_SIGNATURE, which) || !getIspResult(1, &byte)) return 0;
        id = (id << 8) | byte;
    }
    if (device) *device = id;
    return 1;
}

int CVjxPci::setIspEraseChip() {
    if (m_log) m_log->Append('.');
    const int saved = Com_setTimeout(mcu::kEraseChipMs);
    const int ok = sendIspCmd(isp::REC_COMMAND, isp::CMD_ERASE_CHIP) && getIspResult(0, nullptr);
    Com_setTimeout(saved);
    return ok;
}

int CVjxPci::doProgramBSB(int value) {
    const int saved = Com_setTimeout(mcu::kBootConfigMs);
    const int ok = sendIspCmd(isp::REC_COMMAND, isp::CMD_WRITE_BOOT, isp::WRITE_BOOT_BSB,
                              static_cast<unsigned char>(value & 0xFF)) &&
                   getIspResult(0, nullptr);
    Com_setTimeout(saved);
    return ok;
}

int CVjxPci::doProgramBLJB(int value) {
    const int saved = Com_setTimeout(mcu::kBootConfigMs);
    const int ok = sendIspCmd(isp::REC_COMMAND, isp::CMD_WRITE_FUSE, isp::WRITE_FUSE_BLJB,
                              static_cast<unsigned char>(value & 0xFF)) &&
                   getIspResult(0, nullptr);
    Com_setTimeout(saved);
    return ok;
}

int CVjxPci::setIspEraseBSB() {
    return sendIspCmd(isp::REC_COMMAND, isp::CMD_ERASE_BOOT, isp::ERASE_BOOT_BSB) && getIspResult(0, nullptr);
}

int CVjxPci::getIspBlankCheck(unsigned int blockCode, int* blank) {
    const TBlankBlock* block = nullptr;
    for (const TBlankBlock& b : kBlankBlocks) {
        if (b.code == blockCode) block = &b;
    }
    if (!block) {
        m_lastError.Format("Unknown block code 0x%X in getIspBlankCheck()", blockCode);
        return 0;
    }

    const int saved = Com_setTimeout(mcu::kRecordAnswerMs);
    if (!sendIspDisplay(isp::REC_DISPLAY, block->start, block->end, isp::DISPLAY_BLANK_CHECK)) {
        Com_setTimeout(saved);
        return 0;
    }
    const mcu::StatusAnswer answer = mcu::readStatusAnswer(*this, blank);
    if (answer == mcu::StatusAnswer::Timeout) m_lastError = "Timeout in doIspBlankCheck()";
    Com_setTimeout(saved);
    return answer == mcu::StatusAnswer::Complete;
}

namespace mcu {

StatusAnswer readStatusAnswer(CVjxPci& card, int* positive) {
    const int first = card.Com_read();
    if (first < 0) return StatusAnswer::Timeout;
    if (positive) *positive = first == isp::ANSWER_OK ? 1 : 0;
    char rest[3];
    if (first != isp::ANSWER_OK && !card.Com_read(rest, 3)) return StatusAnswer::Timeout;
    char crlf[2] = {0, 0};
    if (!card.Com_read(crlf, 2)) return StatusAnswer::Timeout;
    return crlf[0] == '\r' && crlf[1] == '\n' ? StatusAnswer::Complete : StatusAnswer::BadEnd;
}

}  // namespace mcu
