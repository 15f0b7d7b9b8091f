// The microcontroller's ISP boot loader in ROM, after the part family's
// boot-loader protocol description.
//
// Started, it first measures the host's rate: it understands nothing until
// a "U" arrives, which it echoes (the autobaud step); bytes before it are
// neither echoed nor acted on. Then it echoes every character it receives,
// at once. Between records it ignores everything but ':' (a record starts);
// a "U" gets its echo, which is the answer to a probe.
//
// Inside a record it takes characters two by two as the bytes of an Intel
// HEX line without the line end: length, address, type, data, checksum. It
// converts each character as the ROM does ('0'-'9' give 0-9, any other
// character its offset from 'A' plus 10, four bits kept) without checking
// it, and counts characters by the length byte: a record ends after its
// last checksum character, whatever the characters were. A character that
// is not a hexadecimal digit (a resynchronising 'U', a lost or garbled
// character) therefore spoils the record's checksum, and the record is
// answered "X", CR, LF and not carried out.
//
// Answers to a carried-out record: result bytes as two upper-case hex
// digits each, then '.', CR, LF; failures:
//   "X\r\n"   the record's checksum is wrong (nothing is done)
//   "XPRG"   the flash refused the programming record
//   "XLEN"   a programming record longer than 128 bytes or past the flash end
//   "XBLK"   blank check: the range holds a byte other than 0xFF
//   "XCMD"   a record type or command the boot loader does not know
// (the last three followed by CR, LF).
// A programming record writes within one 128-byte flash page: data past
// the page's end wraps to its start, as the page buffer does.
// While the flash is busy (programming, erasing, writing BSB or BLJB) the
// boot loader does not listen; the answer follows when the work is done.
#include "../hw/Isp.h"
#include "Microcontroller.h"

namespace sim {

namespace {

using namespace isp;

constexpr uint8_t kBootLoaderVersion = 0x12;  // what this ROM reports

// The ROM's conversion of a received character: no check.
uint8_t nibbleOf(uint8_t c) {
    return static_cast<uint8_t>((c <= '9' ? c - '0' : c - 'A' + 10) & 0x0F);
}

bool matches(const uint8_t* data, unsigned length, std::initializer_list<uint8_t> prefix) {
    if (length < prefix.size()) return false;
    unsigned i = 0;
    for (uint8_t b : prefix)
        if (data[i++] != b) return false;
    return true;
}

std::string hex4(unsigned v) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(v >> shift) & 0xF];
    return out;
}

}  // namespace

void Microcontroller::bootLoaderReceive(uint8_t byte, uint64_t nowUs) {
    if (m_parse == Parse::Autobaud) {
        if (byte != kSync) return;  // not understood at an unknown rate
        m_parse = Parse::Idle;
        send(nowUs, byte);
        return;
    }
    send(nowUs, byte);
    if (m_parse == Parse::Idle) {
        if (byte == kRecordMark) {
            m_parse = Parse::Record;
            m_record.clear();
            m_highNibble = true;
        }
        // A 'U' needs no more than its echo; other characters are ignored.
        return;
    }

    const uint8_t digit = nibbleOf(byte);
    if (m_highNibble) {
        m_record.push_back(static_cast<uint8_t>(digit << 4));
    } else {
        m_record.back() = static_cast<uint8_t>(m_record.back() | digit);
    }
    m_highNibble = !m_highNibble;
    // Length, two address bytes, type, the data, checksum.
    if (m_highNibble && m_record.size() == 5u + m_record[0]) {
        m_parse = Parse::Idle;
        executeRecord(nowUs);
    }
}

void Microcontroller::executeRecord(uint64_t nowUs) {
    uint8_t sum = 0;
    for (uint8_t b : m_record) sum = static_cast<uint8_t>(sum + b);
    // The answer to a record follows its last character after the boot
    // loader's turnaround; flash work adds its own time.
    nowUs += m_timing.mcuTurnaroundUs;
    if (sum != 0) {
        sendText(nowUs, kChecksumWrong);
        return;
    }
    const unsigned length = m_record[0];
    const unsigned address = (m_record[1] << 8) | m_record[2];
    const uint8_t* data = m_record.data() + 4;
    switch (m_record[3]) {
        case kProgram:
            programRecord(address, data, length, nowUs);
            break;
        case kEndOfFile:
            sendText(nowUs, kAcknowledge);
            break;
        case kCommand:
            commandRecord(data, length, nowUs);
            break;
        case kDisplay:
            displayRecord(data, length, nowUs);
            break;
        case kRead:
            readRecord(data, length, nowUs);
            break;
        default:
            sendText(nowUs, kUnknown);
            break;
    }
}

void Microcontroller::programRecord(unsigned address, const uint8_t* data, unsigned length, uint64_t nowUs) {
    if (length > kMaxProgramLength || address + length > m_flash.size()) {
        sendText(nowUs, kTooLong);
        return;
    }
    const uint64_t doneUs = nowUs + m_timing.mcuRecordUs;
    m_busy = BusyPeriod::until(doneUs);
    if (m_options.refuseRecords) {
        sendText(doneUs, kRefused);
        return;
    }
    const unsigned page = address & ~(kFlashPage - 1);
    if (length > 0 && address + length > page + kFlashPage)
        broken(nowUs, rule::kIspPage,
               "programming record at 0x" + hex4(address) + " of " + std::to_string(length) +
                   " bytes crosses a 128-byte page: its end wraps to the page's start");
    // Programming only clears bits; the page buffer wraps inside the page.
    for (unsigned i = 0; i < length; ++i) {
        const unsigned at = page + (address - page + i) % kFlashPage;
        m_flash.writeByte(at, static_cast<uint8_t>(m_flash.at(at) & data[i]));
    }
    sendText(doneUs, kAcknowledge);
}

void Microcontroller::commandRecord(const uint8_t* data, unsigned length, uint64_t nowUs) {
    uint64_t doneUs = nowUs + m_timing.mcuBootConfigUs;
    if (length == 1 && matches(data, length, {kCmdChipErase})) {
        // Chip erase: the whole flash and the Boot Status Byte.
        doneUs = nowUs + m_timing.mcuChipEraseUs;
        m_flash.fill(0xFF);
        writeBootByte(kBsbIndex, 0xFF);
    } else if (length == 3 && matches(data, length, {kCmdWriteBoot, kCmdWriteBootBsb})) {
        writeBootByte(kBsbIndex, data[2]);
    } else if (length == 3 && matches(data, length, {kCmdWriteFuse, kCmdWriteFuseBljb})) {
        writeBootByte(kBljbIndex, data[2]);
    } else if (length == 2 && matches(data, length, {kCmdEraseBoot, kCmdEraseBootBsb})) {
        // Erasing the Boot Status Byte leaves it at the erased value.
        writeBootByte(kBsbIndex, 0xFF);
    } else if (length == 4 && matches(data, length, {kCmdStart, kCmdStartJump, 0x00, 0x00})) {
        startApplication(nowUs);
        return;
    } else {
        sendText(nowUs, kUnknown);
        return;
    }
    m_busy = BusyPeriod::until(doneUs);
    sendText(doneUs, kAcknowledge);
}

void Microcontroller::startApplication(uint64_t nowUs) {
    // A jump to the application's reset vector, not a reset: BSB and BLJB
    // play no part. Nothing is answered.
    if (m_options.bootLoaderStaysAfterStart) return;
    if (m_options.appStartFails || !applicationPresent()) {
        start(McuMode::Off, nowUs);
        return;
    }
    start(McuMode::Application, nowUs);
}

void Microcontroller::displayRecord(const uint8_t* data, unsigned length, uint64_t nowUs) {
    // Only the blank check (kind 1) of an address range is offered.
    if (length != 5 || data[4] != kDisplayBlankCheck) {
        sendText(nowUs, kUnknown);
        return;
    }
    const unsigned first = (data[0] << 8) | data[1];
    const unsigned last = (data[2] << 8) | data[3];
    if (first > last || last >= m_flash.size()) {
        sendText(nowUs, kUnknown);
        return;
    }
    for (unsigned a = first; a <= last; ++a) {
        if (m_flash.at(a) != 0xFF) {
            sendText(nowUs, kNotBlank);
            return;
        }
    }
    sendText(nowUs, kAcknowledge);
}

void Microcontroller::readRecord(const uint8_t* data, unsigned length, uint64_t nowUs) {
    int value = -1;
    if (length == 2 && data[0] == kReadBootLoader && data[1] == 0x00) {
        value = kBootLoaderVersion;
    } else if (length == 2 && data[0] == kReadIdent) {
        switch (data[1]) {
            case kIdentManufacturer:
                value = m_options.ispManufacturer & 0xFF;
                break;
            case kIdentDevice1:
                value = (m_options.ispDevice >> 16) & 0xFF;
                break;
            case kIdentDevice2:
                value = (m_options.ispDevice >> 8) & 0xFF;
                break;
            case kIdentDevice3:
                value = m_options.ispDevice & 0xFF;
                break;
            default:
                break;
        }
    }
    if (value < 0) {
        sendText(nowUs, kUnknown);
        return;
    }
    sendHex(nowUs, static_cast<uint8_t>(value));
    sendText(nowUs, kAcknowledge);
}

}  // namespace sim
