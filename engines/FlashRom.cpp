// Flash-ROM programming through the boot loader and the start of the new
// application: boot-loader entry, identification, chip erase, the segments
// of the update file in records of at most 128 bytes, and the start record.
#include "../card/VjxPci.h"
#include "../tcf/Tcf.h"
#include "McuLink.h"

namespace {

// The flash ROM is written in 16 KiB blocks; each segment's 16-byte header
// goes into the last 16 bytes of its block.
constexpr unsigned kSegHeaderInBlock = 0x3FF0;
constexpr unsigned kDotEvery = 0x400;  // one progress dot per KiB of flash address

}  // namespace

int CVjxPci::doEnableBootrom() {
    if (m_log) m_log->Append('.');
    for (int pass = 0; pass < 3; ++pass) {
        doIspReset(1);
        if (doIspDetect()) return 1;
        // The reset alone did not reach the boot loader: ask the application.
        for (int request = 0; request < 3; ++request) {
            doClearBSB();
            for (int probe = 0; probe < 3; ++probe) {
                if (doIspDetect()) return 1;
                Sleep(10);
            }
        }
    }
    return 0;
}

int CVjxPci::doClearBSB() {
    const int saved = Com_setTimeout(mcu::kClearBsbMs);
    int answer = -1;
    if (Com_write(isp::APP_CLEAR_BSB)) answer = Com_read();
    Sleep(20);
    Com_setTimeout(saved);
    return answer;
}

int CVjxPci::setIspProgram(unsigned int address, unsigned char* data, unsigned int length,
                           int* acknowledged) {
    if (length > isp::kMaxRecordData) {
        m_lastError = "Record too long in setIspProgram()";
        return 0;
    }
    const int saved = Com_setTimeout(mcu::kRecordAnswerMs);
    if (!sendIspRecord(static_cast<unsigned char>(length), static_cast<unsigned short>(address & 0xFFFF),
                       isp::REC_DATA, data)) {
        Com_setTimeout(saved);
        return 0;
    }
    // "." acknowledges; a refusal is "X" and three more characters.
    const mcu::StatusAnswer answer = mcu::readStatusAnswer(*this, acknowledged);
    Com_setTimeout(saved);
    if (answer == mcu::StatusAnswer::Timeout) {
        m_lastError = "Timeout in setIspProgram()";
        return 0;
    }
    return answer == mcu::StatusAnswer::Complete;
}

int CVjxPci::setIspProgramBlock(unsigned int address, unsigned char* data, unsigned int length) {
    int allAcknowledged = 1;
    int communicationError = 0;
    while (length > 0) {
        if ((address & (kDotEvery - 1)) == 0 && m_log) m_log->Append('.');
        pumpMessage();
        const unsigned int k = length < isp::kMaxRecordData ? length : isp::kMaxRecordData;
        int acknowledged = 0;
        if (!setIspProgram(address, data, k, &acknowledged)) {
            communicationError = 1;
            break;
        }
        // A refused record does not stop the block; the failure is reported
        // once the block has been sent.
        if (!acknowledged) allAcknowledged = 0;
        address += k;
        data += k;
        length -= k;
    }
    if (communicationError || !allAcknowledged) {
        CString text =
            communicationError ? "Communication error while programming Flash: " : "Can't program Flash: ";
        text += m_lastError;
        m_lastError = text;
        return 0;
    }
    return 1;
}

int CVjxPci::doIspStartApplication() {
    unsigned char start[] = {isp::CMD_START, isp::START_APPLICATION, 0x00, 0x00};  // at address 0x0000
    if (!sendIspRecord(sizeof start, 0, isp::REC_COMMAND, start)) return 0;

    // The timeout in force is the time one silent probe costs.
    const int t = Com_setTimeout(1000);
    Com_setTimeout(t);
    const int step = t > 0 ? t : 1;  // a zero timeout must still end the loop
    for (int elapsed = 0; elapsed < 600; elapsed += step) {
        if (doIspDetect()) return 1;
    }
    // The application runs: forget the probes' leftovers and ask it.
    Com_close();
    Com_open();
    TVersion version;
    return getVersion(&version) == 0 ? 1 : 0;
}

int CVjxPci::doFlashRom(int segmentCount, TRomVersions* versions) {
    if (!m_log || !m_file || !m_tcf || !versions) {
        m_lastError = "No update in progress";
        if (m_log) m_log->MessageBox(m_lastError, 0x10, 0);
        return 0;
    }
    CLogWindow& log = *m_log;

    if (!doEnableBootrom()) {
        log.MessageBox("Boot loader isn't running. ", m_lastError, 0x10, 0);
        return 0;
    }
    unsigned int ispRomVersion = 0;
    if (!getIspVersion(&ispRomVersion)) {
        log.MessageBox("Can't get ISP-ROM version number: ", m_lastError, 0x10, 0);
        return 0;
    }
    if (!getIspMan(&versions->manufacturer)) {
        log.MessageBox("Can't get ISP manufacturer: ", m_lastError, 0x10, 0);
        return 0;
    }
    if (versions->manufacturer != isp::kManufacturer) {
        CString text;
        text.Format("Flash-ROM manufacturer 0x%02lX is unknown", versions->manufacturer);
        log.MessageBox(text, 0x10, 0);
        return 0;
    }
    if (!getIspDev(&versions->device)) {
        log.MessageBox("Can't get ISP device: ", m_lastError, 0x10, 0);
        return 0;
    }
    if (versions->device != isp::kDevice) {
        CString text;
        text.Format("Flash-ROM device 0x%02lX is unknown", versions->device);
        log.MessageBox(text, 0x10, 0);
        return 0;
    }

    if (m_file->Read(m_tcf->header, tcf::kHeaderSize) == 0) {
        log.MessageBox("Can't read flash update file header", 0x10, 0);
        return 0;
    }
    log.Append('.');
    if (!setIspEraseChip()) {
        log.MessageBox("Can't erase chip", 0x10, 0);
        return 0;
    }
    log.Append('.');
    log.Append("Programming flash ROM...", 1);

    for (int s = 0; s < segmentCount; ++s) {
        if (m_file->Read(m_tcf->segHeader, tcf::kSegHeaderSize) == 0) {
            log.MessageBox("Can't read flash update segment header", 0x10, 0);
            return 0;
        }
        const int number = m_tcf->segHeader[tcf::kSegOffNumber];
        const unsigned address = tcf::getBE16(m_tcf->segHeader + tcf::kSegOffAddress);
        const unsigned length = tcf::getBE16(m_tcf->segHeader + tcf::kSegOffLength);
        CString line;
        line.Format("Segment: %d, size: 0x%X\n", number, length);
        versions->segmentLog += line;
        // The file may have changed since it was validated: a length the
        // block area cannot hold is refused before anything is read.
        if (length > tcf::kBlockSize) {
            CString text;
            text.Format("Flash update segment %d is too long (0x%X bytes)", number, length);
            log.MessageBox(text, 0x10, 0);
            return 0;
        }
        if (m_file->Read(m_tcf->block, length) == 0) {
            log.MessageBox("Can't read flash update file date", 0x10, 0);
            return 0;
        }
        if (!setIspProgramBlock(address, m_tcf->block, length)) {
            log.MessageBox(m_lastError, 0x10, 0);
            return 0;
        }
        if (!setIspProgramBlock(address + kSegHeaderInBlock, m_tcf->segHeader, tcf::kSegHeaderSize)) {
            log.MessageBox(m_lastError, 0x10, 0);
            return 0;
        }
    }

    log.Append('.');
    if (!doIspStartApplication()) {
        log.MessageBox("Can't start application: ", m_lastError, 0x10, 0);
        return 0;
    }
    if (doIspDetect()) {
        log.MessageBox("Can't start application (boot loader is still running). ", m_lastError, 0x10, 0);
        return 0;
    }
    CString error;
    versions->ispVersion = -1;  // stays so when the firmware gives no version
    if (!getFirmwareVersionString(versions->firmwareVersion, error, versions->ispVersion,
                                  versions->fpgaVersion)) {
        // On a PCIe-core card the FPGA is rewritten after the firmware: the
        // one running now may be about to be replaced, and the update
        // sequence compares the firmware with the FPGA that runs after it.
        const bool versionsDiffer = versions->ispVersion >= 0;
        if (!(m_bridgeType == BRIDGE_9056_CORE && versionsDiffer)) {
            log.MessageBox(error, 0x10, 0);
            m_versionCheckFailed = true;
        }
    }
    return 1;
}
