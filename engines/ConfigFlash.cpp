// The configuration-flash engine of PCIe-core cards: the commands of the
// card's SPI flash (chips/ConfigFlash.h) over the FPGA's SPICTL port.
#include "ConfigFlash.h"

#include <cstring>

#include "../card/VjxPci.h"
#include "../chips/ConfigFlash.h"
#include "../chips/Spi25.h"
#include "Spi25.h"

namespace {

using namespace cfgflash;

constexpr unsigned kCrcBytes = 4;
constexpr unsigned kDotEvery = 64 * 1024;

// After a register write the part is given 10 ms, then polled every 10 ms
// for up to 2 s until the write has ended.
constexpr unsigned kRegisterWriteMs = 10;
constexpr spi25::BusyPoll kRegisterPoll{10, 200, 200, true};
// A sector erase is polled at once and then every 500 ms; the sector's
// count grows by 500 ms per busy poll and it is given up once the count
// has passed 2000 ms (five polls in all).
constexpr unsigned kErasePollMs = 500;
constexpr unsigned kEraseBudgetMs = 2000;
// Before its identification the part may still be busy: a run cut short
// in an erase or a write leaves that cycle running, and a busy part ignores
// every command but status (its identification would read all ones). It is
// given as long as its longest cycle may last, polled every 10 ms.
constexpr unsigned kLeftBusyPollMs = 10;
constexpr int kLeftBusyReads = kLongestCycleMs / kLeftBusyPollMs + 1;
constexpr spi25::BusyPoll kLeftBusyPoll{kLeftBusyPollMs, kLeftBusyReads, kLeftBusyReads, true};
// What a status read gives when nothing drives the data line.
constexpr uint8_t kNoAnswer = 0xFF;

// Said before the first sector is erased: from then until the new image is
// written the card holds no configuration its FPGA could load at power-up.
constexpr char kKeepPowered[] =
    "Do not switch the computer off until the update has ended: without a valid FPGA image the card "
    "cannot come back on the bus.";

// A page write is polled at once and after every 1 ms, at most 11 times;
// only the first 10 polls count.
constexpr spi25::BusyPoll kPagePoll{1, 11, 10, true};

// ---- Commands --------------------------------------------------------------------

void Command(SpiPort& port, uint8_t command) {
    port.Select();
    port.Send(command, SpiBitOrder::MsbFirst);
}

void ReadId(SpiPort& port, uint8_t* manufacturer, uint16_t* device) {
    Command(port, CMD_READ_ID);
    *manufacturer = port.Receive(SpiBitOrder::MsbFirst);
    const uint8_t high = port.Receive(SpiBitOrder::MsbFirst);
    const uint8_t low = port.Receive(SpiBitOrder::MsbFirst);
    port.Deselect();
    *device = static_cast<uint16_t>(high << 8 | low);
}

void Startup(SpiPort& port) {
    Command(port, CMD_STARTUP);
    for (unsigned i = 0; i < kStartupBytes; ++i) port.Send(0x00, SpiBitOrder::MsbFirst);
    port.Deselect();
}

uint8_t ReadRegister(SpiPort& port, uint32_t address) {
    Command(port, CMD_READ_REGISTER);
    spi25::SendAddress(port, address, kRegisterAddressBytes);
    port.Send(0x00, SpiBitOrder::MsbFirst);  // dummy
    const uint8_t value = port.Receive(SpiBitOrder::MsbFirst);
    port.Deselect();
    return value;
}

void WriteRegister(SpiPort& port, uint32_t address, uint8_t value) {
    spi25::WriteEnable(port);
    Command(port, CMD_WRITE_REGISTER);
    spi25::SendAddress(port, address, kRegisterAddressBytes);
    port.Send(value, SpiBitOrder::MsbFirst);
    port.Deselect();
}

void Read(SpiPort& port, uint32_t address, unsigned char* data, unsigned count) {
    Command(port, CMD_READ4);
    spi25::SendAddress(port, address, kAddressBytes);
    port.Send(0x00, SpiBitOrder::MsbFirst);  // dummy
    for (unsigned i = 0; i < count; ++i) data[i] = port.Receive(SpiBitOrder::MsbFirst);
    port.Deselect();
}

void EraseSector(SpiPort& port, uint32_t address) {
    spi25::WriteEnable(port);
    Command(port, CMD_SECTOR_ERASE4);
    spi25::SendAddress(port, address, kAddressBytes);
    port.Deselect();
}

void WritePage(SpiPort& port, uint32_t address, const unsigned char* data, unsigned count) {
    spi25::WriteEnable(port);
    Command(port, CMD_PAGE_WRITE4);
    spi25::SendAddress(port, address, kAddressBytes);
    spi25::SendData(port, data, count, SpiBitOrder::MsbFirst);
    port.Deselect();
}

bool Busy(SpiPort& port) {
    return (spi25::ReadStatus(port) & spi25::STATUS_WIP) != 0;
}

// ---- Stages ------------------------------------------------------------------------

enum class Compared { Same, Differs };

// The CRC behind the image first, which tells a different image at once;
// then the whole image page by page, a dot for every 64 KiB.
Compared Compare(SpiPort& port, const unsigned char* image, unsigned size, CLogWindow* log) {
    unsigned char crc[kCrcBytes];
    Read(port, size - kCrcBytes, crc, kCrcBytes);
    if (std::memcmp(crc, image + size - kCrcBytes, kCrcBytes) != 0) return Compared::Differs;

    unsigned char page[kPageBytes];
    for (unsigned address = 0; address < size; address += kPageBytes) {
        Read(port, address, page, kPageBytes);
        const unsigned length = size - address < kPageBytes ? size - address : kPageBytes;
        if (std::memcmp(page, image + address, length) != 0) return Compared::Differs;
        if ((address + kPageBytes) % kDotEvery == 0 && log) log->Append('.');
        pumpMessage();
    }
    return Compared::Same;
}

// Every sector the image touches, a dot each. A sector that does not end in
// time fails the run (a reason line each), but the others are still
// erased. True when all ended.
bool Erase(SpiPort& port, unsigned size, CLogWindow* log, CString& lastError) {
    bool ok = true;
    for (unsigned address = 0; address < size; address += kSectorBytes) {
        EraseSector(port, address);
        if (log) log->Append('.');
        for (unsigned waited = 0; Busy(port);) {
            Sleep(kErasePollMs);
            pumpMessage();
            waited += kErasePollMs;
            if (waited > kEraseBudgetMs) {
                lastError += "\nFPGA erase timeout";
                ok = false;
                break;
            }
        }
    }
    return ok;
}

bool Blank(const unsigned char* bytes, unsigned count) {
    for (unsigned i = 0; i < count; ++i)
        if (bytes[i] != 0xFF) return false;
    return true;
}

}  // namespace

namespace configflash {

int Program(CSpiCtlPort& port, const unsigned char* image, unsigned size, int* rewritten, CLogWindow* log,
            CString& lastError) {
    int changed = 0;
    if (!rewritten) rewritten = &changed;
    *rewritten = 0;
    auto fail = [&]() {
        if (log) log->MessageBox("Can't program FPGA: ", lastError, 0x10, 0);
        return 0;
    };
    if (!image || size < kCrcBytes) {
        lastError += "\nThe FPGA image is empty";
        return fail();
    }

    port.Init();
    if (!spi25::WaitWhileBusy(port, kLeftBusyPoll) && spi25::ReadStatus(port) != kNoAnswer) {
        CString text;
        text.Format("FPGA configuration flash still busy after %u ms\n", kLongestCycleMs);
        if (log) log->MessageBox(text, 0x10, 0);
        return 0;
    }
    uint8_t manufacturer = 0;
    uint16_t device = 0;
    ReadId(port, &manufacturer, &device);
    if (manufacturer != kManufacturer || device != kDeviceId) {
        CString text;
        text.Format("FPGA silicon ID unknown: %02X/%04X\n", manufacturer, device);
        if (log) log->MessageBox(text, 0x10, 0);
        return 0;
    }
    // An image beyond the end of the flash would wrap round onto its own
    // start; refused while the flash still holds the configuration the FPGA
    // loads.
    if (size > kCapacity) {
        CString text;
        text.Format("\nFPGA image of %u bytes (with CRC) is larger than the configuration flash (%u bytes)",
                    size, kCapacity);
        lastError += text;
        return fail();
    }
    Startup(port);

    // The FPGA needs 0x02 there; set silently, not read back. The part's
    // non-volatile register write lasts far longer than the 10 ms first
    // given to it, and while it lasts the part ignores every command but
    // status: without the wait the comparison would read nothing and the
    // first sector's erase would be lost.
    if (ReadRegister(port, REG_CONFIG2) != REG_CONFIG2_VALUE) {
        WriteRegister(port, REG_CONFIG2, REG_CONFIG2_VALUE);
        Sleep(kRegisterWriteMs);
        if (!spi25::WaitWhileBusy(port, kRegisterPoll)) {
            lastError += "\nFPGA configuration flash stays busy after its register write";
            return fail();
        }
    }

    if (log) log->Append("Comparing FPGA...", 1);
    if (Compare(port, image, size, log) == Compared::Same) return 1;
    *rewritten = 1;

    if (log) log->Append(kKeepPowered, 1);
    if (log) log->Append("Erasing FPGA...", 1);
    const bool erased = Erase(port, size, log, lastError);

    // Pages left all 0xFF by the image stay as the erase left them. After
    // a failed erase one page is still written before the run ends.
    if (log) log->Append("Programming FPGA...", 1);
    for (unsigned address = 0; address < size; address += kPageBytes) {
        const unsigned length = size - address < kPageBytes ? size - address : kPageBytes;
        if (Blank(image + address, length)) continue;
        WritePage(port, address, image + address, length);
        if (address % kDotEvery == 0 && log) log->Append('.');
        if (!spi25::WaitWhileBusy(port, kPagePoll)) {
            lastError += "\nWrite FPGA bytes timeout";
            return fail();
        }
        if (!erased) return fail();
    }
    // An image of blank pages only writes nothing: a failed erase still
    // fails the run.
    if (!erased) return fail();
    return 1;
}

}  // namespace configflash

#if VJX_WINDOWS_PROGRAM

namespace {

class CardSpiCtl : public SpiCtlRegister {
public:
    explicit CardSpiCtl(CVjxPci& card) : m_card(card) {}
    uint8_t Read() override { return m_card.ReadSPICTL(); }
    void Write(uint8_t value) override { m_card.WriteSPICTL(value); }

private:
    CVjxPci& m_card;
};

}  // namespace

int CVjxPci::doFlashFpgaCore(const unsigned char* image, unsigned int size, int* rewritten) {
    if (rewritten) *rewritten = 0;
    if (m_bridgeType != BRIDGE_9056_CORE) {
        m_lastError += "\nThe card has no configuration flash behind its FPGA";
        if (m_log) m_log->MessageBox("Can't program FPGA: ", m_lastError, 0x10, 0);
        return 0;
    }
    CardSpiCtl reg(*this);
    CSpiCtlPort port(reg, m_spiCtl);
    return configflash::Program(port, image, size, rewritten, m_log, m_lastError);
}

#endif
