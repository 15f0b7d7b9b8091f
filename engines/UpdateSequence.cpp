// The update sequence: brings the FPGA's configuration device and the
// microcontroller's firmware up to an update file, stage by stage; the first
// failing stage ends it. The two EEPROM stages run before it, in the flash
// command.
#include <new>

#include "../card/VjxPci.h"
#include "../chips/Epcs.h"
#include "../chips/VjxFpga.h"
#include "../tcf/Crc.h"
#include "../tcf/FileCheck.h"
#include "../tcf/Tcf.h"

namespace {

constexpr unsigned kCrcBytes = 4;
constexpr unsigned kApplicationStartMs = 300;

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
        // No configuration device takes more than the largest part; a bigger
        // size is refused before any memory is taken for it.
        CString tooLarge;
        if (!tcf::FpgaImageFits(fpgaSize, &tooLarge)) {
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

        if (!doFlashFpga(image, fpgaSize + kCrcBytes)) return false;
        int configured = 0;
        getFpgaConfig(&configured);
        if (!configured) return error("Error while programming FPGA");
        const uint8_t version = ReadVERSION();
        if (version == fpga::VERSION_NONE || version == fpga::VERSION_UNCONFIGURED)
            return errorWithReason("FPGA version number not plausible. ");

        if (!doFlashRom(segmentCount, &versions)) return false;
        doIspReset(0);
        if (!doIspDetect()) return errorWithReason("Boot loader isn't running. ");
        if (!doProgramBSB(0)) return errorWithReason("Can't program BSB: ");
        if (!doProgramBLJB(0)) return errorWithReason("Can't program BLJB: ");
        if (!doIspStartApplication()) return errorWithReason("Can't start Application: ");
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
    return 1;
}
