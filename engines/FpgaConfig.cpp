// FPGA serial configuration device (EPC) on cards with a PCI 9030 or a
// PCI 9056 behind a PEX 8111: the 25-series commands over the FPGA
// configuration lines (FpgaLines.cpp) in four steps, identify, compare,
// erase and program, each only as far as the one before requires.
#include <cstring>

#include "../card/VjxPci.h"
#include "../chips/Epcs.h"
#include "FpgaLinePort.h"
#include "Spi25.h"

namespace {

constexpr int kAddressBytes = 3;
constexpr unsigned kPage = 256;
constexpr unsigned kDotEvery = 4096;
constexpr unsigned kCrcBytes = 4;

// The erase is polled at once and every 500 ms up to 10 s: a poll that finds
// the erase finished ends the wait as done, the last one included. A page
// program is polled every 1 ms up to 10 times (an eleventh read only
// confirms the timeout).
constexpr spi25::BusyPoll kErasePoll{500, 21, 21, true};
constexpr spi25::BusyPoll kProgramPoll{1, 11, 10, false};

constexpr SpiBitOrder kDataOrder = SpiBitOrder::LsbFirst;

enum class Compared { Same, Differs };

// How often a part still erasing is asked whether it has finished.
constexpr unsigned kIdlePollMs = 100;

enum class Identified { Known, Busy, Unknown };

// The device's capacity in bytes, or 0. An interrupted program may have left
// the part erasing, when it answers nothing but its status: it is first
// given the longest erase any known part takes.
Identified identify(SpiPort& port, uint8_t* id, uint32_t* capacity) {
    *capacity = 0;
    if (!spi25::WaitUntilIdle(port, epc::longestBulkEraseMs(), kIdlePollMs)) return Identified::Busy;
    *id = spi25::ReadSiliconId(port);
    *capacity = epc::capacity(*id);
    return *capacity ? Identified::Known : Identified::Unknown;
}

// First the CRC behind the image, which tells a different image at once;
// then, unless crcOnly, the whole image page by page.
Compared compare(SpiPort& port, const unsigned char* image, unsigned size, bool crcOnly, CLogWindow* log) {
    const unsigned crcAt = size - kCrcBytes;
    unsigned char crc[kCrcBytes];
    spi25::Read(port, crcAt, kAddressBytes, crc, kCrcBytes, kDataOrder);
    if (std::memcmp(crc, image + crcAt, kCrcBytes) != 0) return Compared::Differs;
    if (crcOnly) return Compared::Same;

    unsigned char page[kPage];
    for (unsigned address = 0; address < size; address += kPage) {
        spi25::Read(port, address, kAddressBytes, page, kPage, kDataOrder);
        const unsigned length = size - address < kPage ? size - address : kPage;
        if (std::memcmp(page, image + address, length) != 0) return Compared::Differs;
        if ((address + kPage) % kDotEvery == 0 && log) log->Append('.');
        pumpMessage();
    }
    return Compared::Same;
}

// Bulk erase; true when the device finished in time.
bool erase(SpiPort& port, CLogWindow* log) {
    const bool split = vjx::platform::kSplitEraseLogLines;
    if (log) log->Append(split ? "Write enable FPGA..." : "Bulk erasing FPGA...", 1);
    spi25::WriteEnable(port);
    if (split && log) log->Append("Bulk erase FPGA...", 1);
    spi25::BulkErase(port);
    return spi25::WaitWhileBusy(port, kErasePoll);
}

// Page by page; pages that are all 0xFF stay as the erase left them. True
// when every page was written in time.
bool program(SpiPort& port, const unsigned char* image, unsigned size, CLogWindow* log) {
    for (unsigned address = 0; address < size;) {
        const unsigned end = (address / kPage + 1) * kPage < size ? (address / kPage + 1) * kPage : size;
        const unsigned length = end - address;
        const unsigned char* bytes = image + address;
        bool erased = true;
        for (unsigned i = 0; i < length && erased; ++i) erased = bytes[i] == 0xFF;
        if (!erased) {
            spi25::PageProgram(port, address, kAddressBytes, bytes, length, kDataOrder);
            if (address % kDotEvery == 0 && log) log->Append('.');
            if (!spi25::WaitWhileBusy(port, kProgramPoll)) return false;
        }
        address = end;
    }
    return true;
}

}  // namespace

// With the FPGA held off its device: the device identified and an image of
// `size` bytes found to fit it. A refusal leaves the device as it was and
// lets the FPGA load from it again, so the card keeps running.
int CVjxPci::identifyEpc(SpiPort& port, unsigned int size, CLogWindow* log) {
    port.Deselect();
    uint8_t id = 0;
    uint32_t capacity = 0;
    const Identified found = identify(port, &id, &capacity);
    m_epcBytes = capacity;
    if (found == Identified::Known && size <= capacity) return 1;
    setFpgaConfig();
    CString text;
    if (found == Identified::Busy) {
        text.Format("\nFPGA configuration device still busy after %u ms", epc::longestBulkEraseMs());
        m_lastError += text;
        if (log) log->MessageBox("Can't program FPGA: ", m_lastError, 0x10, 0);
    } else if (found == Identified::Unknown) {
        text.Format(vjx::platform::kEpcSiliconIdUnknown, id);
        if (log) log->MessageBox(text, 0x10, 0);
    } else {
        // An image that does not fit would wrap round and overwrite its own
        // start.
        text.Format("\nFPGA image of %u bytes (with CRC) is larger than the configuration device (%u bytes)",
                    size, capacity);
        m_lastError += text;
        if (log) log->MessageBox("Can't program FPGA: ", m_lastError, 0x10, 0);
    }
    return 0;
}

int CVjxPci::CheckConfigDeviceFits(unsigned int size, CLogWindow* log) {
    // Every part takes an image this small, and only the bridges with the
    // configuration lines can ask the device (doFlashFpga refuses the rest).
    if (size <= epc::smallestCapacity()) return 1;
    if (m_bridgeType != BRIDGE_9030 && m_bridgeType != BRIDGE_9056) return 1;
    if (m_bridgeType == BRIDGE_9056 && !BridgeWritable()) return 1;
    // As before any FPGA access of an update: the card's local interrupt
    // is off while its FPGA is held.
    Linti1Disable();
    setFpgaResetConfig();
    CFpgaLinePort port(*this);
    if (!identifyEpc(port, size, log)) return 0;
    // Only read: the FPGA loads its unchanged configuration again.
    port.Deselect();
    setFpgaConfig();
    return 1;
}

int CVjxPci::doFlashFpga(const unsigned char* image, unsigned int size) {
    CLogWindow* log = m_log;
    auto fail = [this, log]() {
        if (log) log->MessageBox("Can't program FPGA: ", m_lastError, 0x10, 0);
        return 0;
    };

    // Refusals that must come before the FPGA is held off or anything is sent.
    if (m_bridgeType != BRIDGE_9030 && m_bridgeType != BRIDGE_9056) {
        m_lastError += "\nThe card has no FPGA configuration lines on its bridge";
        return fail();
    }
    if (m_bridgeType == BRIDGE_9056 && !BridgeWritable()) {
        if (log) log->MessageBox(kSlowModeRefused, 0x10, 0);
        return 0;
    }
    if (!image || size < kCrcBytes) {
        m_lastError += "\nThe FPGA image is empty";
        return fail();
    }

    setFpgaResetConfig();
    CFpgaLinePort port(*this);
    if (!identifyEpc(port, size, log)) return 0;

    // In slow mode a matching CRC is taken for a matching image: reading
    // the whole device would take minutes there.
    if (log) log->Append("Comparing FPGA...", 1);
    const bool crcOnly = SlowFpgaMode();
    if (compare(port, image, size, crcOnly, log) == Compared::Same) {
        if (crcOnly && log) log->Append("FPGA CRC test passed.", 1);
        return 1;
    }

    const bool erased = erase(port, log);
    if (log) log->Append("Programming FPGA...", 1);
    if (!erased) {
        m_lastError += "\nFPGA erase timeout";
        return fail();
    }
    if (!program(port, image, size, log)) {
        m_lastError += "\nWrite FPGA bytes timeout";
        return fail();
    }
    return 1;
}
