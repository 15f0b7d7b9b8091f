// The update sequence: brings the FPGA's configuration device and the
// microcontroller's firmware up to an update file, stage by stage; the first
// failing stage ends it. The two EEPROM stages run before it, in the flash
// command.
#include <new>

#include "../card/VjxPci.h"
#include "../chips/VjxFpga.h"
#include "../driver/SystemControl.h"
#include "../tcf/Crc.h"
#include "../tcf/FileCheck.h"
#include "../tcf/Tcf.h"
#include "SystemRestart.h"

namespace {

constexpr unsigned kCrcBytes = 4;
constexpr unsigned kApplicationStartMs = 300;

// The application's command that makes the FPGA load its configuration
// again; it answers before the load takes the card off the bus. The system
// is asked to enumerate the card again only once the load is over: 500 ms,
// or as long as the FPGA may take to read the image at its slowest
// configuration clock. A function enumerated while it still loads is
// missed and stays without its resources.
constexpr char kReloadFpga[] = "T";
constexpr int kReloadAnswerMs = 100;
constexpr unsigned kReloadMs = 500;

constexpr unsigned kBoxYesNoCancelExclamation = 0x33;
constexpr int kAnswerYes = 6;

}  // namespace

bool ReenumerateOrOfferRestart(CLogWindow& log) {
    if (ReenumerateAllDevices()) return true;
    const int choice = log.MessageBox(
        "The card's PCIe core was changed and reset.\nA reboot is needed to make the card working "
        "again.\n\nDo the reboot now?",
        kBoxYesNoCancelExclamation, 0);
    if (choice != kAnswerYes) return false;
    if (!RebootSystem()) log.MessageBox("Shutdown of system failed", 0x10, 0);
    return false;
}

namespace {

// A PCIe-core card whose configuration flash was rewritten still runs its
// old FPGA configuration. The new firmware is asked to reload the FPGA,
// which resets the card's PCIe interface; the system must then enumerate
// the card again, or, when it cannot, the computer must be restarted.
// Problems here are reported but do not fail the update: the card holds
// the new content either way. True when the FPGA reloaded and the system
// enumerated the card again, so that it can be reached.
bool reloadCoreFpga(CVjxPci& card, CLogWindow* log, uint32_t imageBytes) {
    int answer = -1;
    const bool open = card.Com_open() != 0;
    int previousTimeout = 0;
    if (open) {
        previousTimeout = card.Com_setTimeout(kReloadAnswerMs);
        if (card.Com_write(kReloadFpga, 1)) answer = card.Com_read();
    }
    const unsigned loadMs = fpga::loadMs(imageBytes);
    Sleep(loadMs > kReloadMs ? loadMs : kReloadMs);
    if (open) card.Com_setTimeout(previousTimeout);
    if (answer < 0) log->MessageBox("Can't configure FPGA.", card.getLastError(), 0x10, 0);
    card.Com_close();

    return ReenumerateOrOfferRestart(*log) && answer >= 0;
}

}  // namespace

// A card takes flash updates when its model has a configuration-EEPROM
// preset (the models made for update files); PCIe-core cards always do.
bool CVjxPci::HasFlashUpdate() const {
    if (vjx::platform::kHasBridgeType4 && m_bridgeType == BRIDGE_9056_CORE) return true;
    return KnownModel() && tcf::ConfigEepromPreset(m_model).size != 0;
}

int CVjxPci::doFlash(CFile& file, CLogWindow& log, const char* cardName) {
    CFile* previousFile = m_file;
    CLogWindow* previousLog = m_log;
    m_lastError.Empty();
    m_versionCheckFailed = false;

    TTcfSmall* record = new (std::nothrow) TTcfSmall;
    m_tcf = record;
    m_file = &file;
    m_log = &log;

    // ReadFileHeader reports a missing record itself.
    int ok = ReadFileHeader(file, &log, record) && doFlashIsp(cardName);

    delete record;
    m_tcf = nullptr;
    m_file = previousFile;
    m_log = previousLog;
    return ok ? 1 : 0;
}

int CVjxPci::doFlashIsp(const char* cardName) {
    CLogWindow* log = m_log;
    if (!log || !m_file || !m_tcf) return 0;
    CFile& file = *m_file;
    const char* name = cardName ? cardName : "(Unknown)";

    auto error = [log](const char* text) {
        log->MessageBox(text, 0x10, 0);
        return false;
    };
    auto errorWithReason = [this, log](const char* prefix) {
        log->MessageBox(prefix, m_lastError, 0x10, 0);
        return false;
    };

    const uint32_t fpgaOffset = tcf::getLE32(m_tcf->header + tcf::kOffFpgaOffset);
    const uint32_t fpgaSize = tcf::getLE32(m_tcf->header + tcf::kOffFpgaSize);
    TRomVersions versions;
    unsigned char* image = nullptr;
    // A PCIe-core card whose FPGA must load its configuration flash again:
    // rewritten, or already holding the image while the FPGA still runs
    // another configuration.
    bool reload = false;

    auto run = [&]() -> bool {
        // An EEPROM-only file: nothing for the configuration device or the
        // flash ROM.
        if (fpgaSize == 0) return true;

        file.Seek(tcf::kHeaderSize, 0);
        if (file.GetPosition() != tcf::kHeaderSize) return error("Can't seek flash update segment header");
        // Nothing is written to the card before the whole chain is good.
        int segmentCount = 0;
        if (!tcf::ValidateSegments(file, log, m_tcf, &segmentCount)) return false;

        Linti1Disable();

        file.Seek(fpgaOffset, 0);
        if (file.GetPosition() != static_cast<int64_t>(fpgaOffset)) return error("Can't seek EPC.");
        // An image the card's configuration device cannot take is refused
        // before any memory is taken for it.
        CString tooLarge;
        if (!tcf::FpgaImageFits(fpgaSize, FpgaDeviceBytes(), &tooLarge)) {
            m_lastError += tooLarge;
            return errorWithReason("Can't program FPGA: ");
        }
        image = new (std::nothrow) unsigned char[fpgaSize + kCrcBytes];
        if (!image) return error("Can't allocate EPC.");
        if (file.Read(image, fpgaSize) != fpgaSize) return error("Can't read all EPC bytes.");
        // The CRC goes behind the image, little-endian: it lands in the
        // device right after the image and identifies the content later.
        CCrc32 crc;
        crc.Update(image, fpgaSize);
        tcf::putLE32(image + fpgaSize, crc.Get());
        // The flash-ROM stage reads the file again from its start.
        file.Seek(0, 0);
        if (file.GetPosition() != 0) return error("Can't seek to begin.");

        auto firmware = [&]() -> bool {
            if (!doFlashRom(segmentCount, &versions)) return false;
            doIspReset(0);
            if (!doIspDetect()) return errorWithReason("Boot loader isn't running. ");
            if (!doProgramBSB(0)) return errorWithReason("Can't program BSB: ");
            if (!doProgramBLJB(0)) return errorWithReason("Can't program BLJB: ");
            if (!doIspStartApplication()) return errorWithReason("Can't start Application: ");
            return true;
        };
        auto versionPlausible = [&]() {
            const uint8_t version = ReadVERSION();
            return version != fpga::VERSION_NONE && version != fpga::VERSION_UNCONFIGURED;
        };

#if VJX_WINDOWS_PROGRAM
        // The FPGA carries the card's PCIe interface: it keeps running its
        // loaded configuration while the flash is rewritten and the firmware
        // is programmed through it first; the new configuration is loaded
        // only at the end (reloadCoreFpga).
        if (m_bridgeType == BRIDGE_9056_CORE) {
            int rewritten = 0;  // set by the configuration-flash engine
            if (!firmware()) return false;
            if (!doFlashFpgaCore(image, fpgaSize + kCrcBytes, &rewritten)) return false;
            if (!versionPlausible()) return errorWithReason("FPGA version number not plausible. ");
            // A flash that already held the image, under an FPGA that runs
            // another version than the new firmware expects: an earlier run
            // wrote the flash but ended before the reload.
            reload = rewritten || (versions.ispVersion >= 0 && ReadVERSION() != versions.ispVersion);
            Sleep(kApplicationStartMs);
            return true;
        }
#endif

        if (!doFlashFpga(image, fpgaSize + kCrcBytes)) return false;
        int configured = 0;
        getFpgaConfig(&configured);
        if (!configured) return error("Error while programming FPGA");
        if (!versionPlausible()) return errorWithReason("FPGA version number not plausible. ");
        if (!firmware()) return false;
        Sleep(kApplicationStartMs);
        return true;
    };

    const bool ok = run();
    Com_close();
    delete[] image;
    if (!ok) return 0;

    CString text;
    if (fpgaSize != 0) {
        text.Format("Programming %s card was successful.\n\nFirmware version: %s\n", name,
                    static_cast<const char*>(versions.firmwareVersion));
    } else {
        text.Format("Programming %s card was successful.", name);
    }
    log->MessageBox(text, 0x40, 0);
    if (vjx::platform::kHasBridgeType4 && reload && reloadCoreFpga(*this, log, fpgaSize + kCrcBytes)) {
        // The firmware stage could compare the new firmware only with the
        // FPGA that was about to be replaced; now the new one runs.
        CString version, mismatch;
        int ispVersion = 0, fpgaVersion = 0;
        if (!getFirmwareVersionString(version, mismatch, ispVersion, fpgaVersion)) {
            log->MessageBox(mismatch, 0x10, 0);
            m_versionCheckFailed = true;
        }
        Com_close();
    }
    return 1;
}
