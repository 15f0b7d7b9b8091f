// Firmware version query: the application answers "R" with five bytes
// (major, two minor characters, a has-minor flag and the ISP version number),
// and the ISP version number must match the FPGA's VERSION register.
#include "../card/VjxPci.h"
#include "McuLink.h"

int CVjxPci::getVersion(TVersion* version) {
    if (!version) return 6;
    if (!Com_write(isp::APP_VERSION)) return 6;
    int* const fields[mcu::kVersionBytes] = {&version->major, &version->minor2, &version->minor1,
                                             &version->hasMinor, &version->isp};
    for (int k = 0; k < mcu::kVersionBytes; ++k) {
        const int byte = Com_read();
        if (byte < 0) return 7 + k;  // byte k + 1 did not arrive
        *fields[k] = byte;
    }
    return 0;
}

int CVjxPci::getFirmwareVersionString(CString& version, CString& error, int& ispVersion, int& fpgaVersion) {
    int openedHere = 0;
    if (!m_comOpen) {
        Com_open();
        if (!m_comOpen) return 0;
        openedHere = 1;
    }
    // Bytes left over from an earlier exchange must not be taken for the
    // answer.
    Com_readFlush();

    TVersion answer;
    if (getVersion(&answer) != 0) {
        error = "Can't get firmware version number.";
        error += m_lastError;
        if (openedHere) Com_close();
        return 0;
    }

    ispVersion = answer.isp;
    CString text;
    if (answer.hasMinor) {
        text.Format("%d.%c%c", answer.major & 0x3F, answer.minor1, answer.minor2);
    } else {
        text.Format("%d", answer.major & 0x3F);
    }
    version = text;
    fpgaVersion = ReadVERSION();

    if (ispVersion != fpgaVersion) {
        CString message;
        message.Format("Compare of ISP version number failed (0x%02X != 0x%02X). ", ispVersion, fpgaVersion);
        message += m_lastError;
        error = message;
        if (openedHere) Com_close();
        return 0;
    }
    if (openedHere) Com_close();
    return 1;
}
