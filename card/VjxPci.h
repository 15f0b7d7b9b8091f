// The card object: counts the VJX cards, opens one at a time, identifies its
// model, and carries the programming engines (engines/*.cpp) as members.
#pragma once

#include <cstdint>
#include <vector>

#include "../app/LogWindow.h"
#include "../driver/wd_types.h"
#include "../platform/platform.h"
#include "PciBridge.h"

struct VJX_PCI_STRUCT;
struct TTcfSmall;

class SpiPort;  // engines/SpiPort.h

class CVjxPci {
public:
    typedef int TModel;

    // Bridge types: which PLX chip carries the card, which selects register
    // variants and engine paths.
    enum TBridge : uint32_t {
        BRIDGE_NONE = 0,
        BRIDGE_9050 = 1,
        BRIDGE_9030 = 2,
        BRIDGE_9056 = 3,       // PCI 9056 behind a PEX 8111
        BRIDGE_9056_CORE = 4,  // PCI 9056 revision 0x80, PCIe core in the FPGA
    };

    // The nine FPGA configuration lines.
    enum TFpga {
        FPGA_DATA_OUT = 0,   // serial data to the configuration device
        FPGA_DATA_IN = 1,    // serial data from the device (read only)
        FPGA_CLOCK = 2,      // serial clock
        FPGA_CS = 3,         // device chip select, low = selected
        FPGA_CONF_DONE = 4,  // configuration done (PCI 9030 only)
        FPGA_CONFIG = 5,     // high holds the FPGA off the device
        FPGA_UNUSED6 = 6,
        FPGA_UNUSED7 = 7,
        FPGA_HOST = 8,  // low while the host owns the device
    };

    // Raw answer to the firmware's version request.
    struct TVersion {
        int major = 0;   // low six bits printed in decimal
        int minor2 = 0;  // second character of the minor version
        int minor1 = 0;  // first character of the minor version
        int hasMinor = 0;
        int isp = 0;  // ISP version number, compared with VERSION
    };

    // Result record of the flash-ROM stage.
    struct TRomVersions {
        unsigned long manufacturer = 0;
        unsigned long device = 0;
        int ispVersion = 0;
        int fpgaVersion = 0;
        CString segmentLog;
        CString firmwareVersion;
    };

    CVjxPci();
    virtual ~CVjxPci();
    CVjxPci(const CVjxPci&) = delete;
    CVjxPci& operator=(const CVjxPci&) = delete;

    // ---- Enumeration, opening, identification --------------------------
    uint32_t Count();
    int Open(unsigned int index);
    void Close();
    void GetPciSlot(WD_PCI_SLOT* slot);
    uint32_t ReadID();
    uint32_t ReadSUBID();
    uint8_t ReadRevision();
    TModel GetModel(int key, int revision, const char** description);
    TModel GetModel() const { return m_model; }
    void SetModel(TModel model) { m_model = model; }
    bool KnownModel() const;
    const char* GetModelDesc() const { return m_modelDesc; }
    bool HasFlashUpdate() const;
    TModel GetModelIndex(int code) const;
    bool MigrationPossible(int code) const;
    bool SlowFpgaMode();
    const char* getErrorString();
    // The access library's reason for the first register access it refused
    // since the last call ("" when none), e.g. for lack of rights.
    const char* TakeAccessRefusal();
    uint32_t GetLibInitResult() const { return m_libInitStatus; }
    const char* GetLibInitResultStr();
    uint32_t GetBridgeType() const { return m_bridgeType; }
    // Bytes the card's FPGA configuration device takes (an image with its
    // CRC): the configuration flash of a PCIe-core card, otherwise the
    // largest EPC any card carries.
    uint32_t FpgaDeviceBytes() const;

    // Whether the engines may change bridge registers. A PCIe bridge reached
    // only through configuration cycles cannot be written by the Linux
    // program (its driver has no configuration write), so every engine that
    // writes the bridge refuses such a card before it changes anything.
    bool BridgeWritable();
    static const char* const kSlowModeRefused;

    // ---- Register accessors (card/Registers.cpp) ------------------------
    uint32_t ReadCNTRL();
    void WriteCNTRL(uint32_t value);
    uint32_t ReadINTCSR();
    void WriteINTCSR(uint32_t value);
    uint32_t ReadGPIOC();
    void WriteGPIOC(uint32_t value);
    void WriteCFG(uint8_t value);
    uint8_t ReadVERSION();
    uint8_t ReadIRQF();
    void WriteTRCON(uint8_t value);
    uint8_t ReadRPTR();
    void WriteTBUF(uint8_t value);
    void WriteRAMA(uint8_t value);
    uint8_t ReadRAMD();
    void WriteRAMD(uint8_t value);
    void WriteTSTART(uint8_t value);
#if VJX_WINDOWS_PROGRAM
    // Serial-flash port and interrupt control of PCIe-core cards.
    uint8_t ReadSPICTL();
    void WriteSPICTL(uint8_t value);
    void WriteINTCTL(uint8_t value);
#endif
    void Linti1Disable();
    void Linti1Ack();

    // ---- Update file (tcf/ReadFileHeader.cpp) ---------------------------
    // The program whose rules the file reader, the whole-file check and the
    // module-code lookup follow: this program's own, unless a tool that
    // answers for both programs asks for the other's.
    void SetProgram(const vjx::platform::Program& program) {
        m_program = &program;
    }
    const vjx::platform::Program& GetProgram() const {
        return *m_program;
    }
    int ReadFileHeader(CFile& file, CLogWindow* log, TTcfSmall* record);
    unsigned EepromImageSize() const {
        return m_eeImageSize;
    }
    const unsigned char* EepromImage() const {
        return m_eeImage.data();
    }
    unsigned PcieEepromImageSize() const {
        return m_pcieImageSize;
    }
    const unsigned char* PcieEepromImage() const {
        return m_pcieImage.data();
    }

    // ---- Whole-file check (tcf/FileCheck.cpp) -----------------------------
    // Everything of the file whose header `record` holds (read by
    // ReadFileHeader, with the images it loaded) that needs no card: the
    // EEPROM images, the identity the configuration image gives the card,
    // the segment chain and the FPGA image. Reports the first refusal with
    // the text the stage concerned would show; 1 when the file is good.
    int CheckUpdateFile(CFile& file, CLogWindow* log, TTcfSmall* record);

    // ---- Configuration EEPROM, Microwire (engines/ConfigEeprom.cpp) -----
    void eeCs(int on);
    void eeSk(int on);
    void eeDi(int on);
    int eeDo();
    void eeDoEnable(int on);
    void eeEnable(int on);
    int eeTest();
    int eeInit();
    void eeStart();
    void eeClock();
    void eeDiBit(int bit);
    int eeDoBit();
    int eeDiByte(unsigned char byte);
    int eeDoByte();
    int eeAddress(int op, int address, int bits);
    void eeCmd(int op, int pattern, int bits);
    void eeCmdRead(int address, int bits);
    void eeCmdWrite(int address, int bits);
    void eeCmdWen(int bits);
    void eeCmdWds(int bits);
    int eeWaitReady();
    // Before the first command: 1 once the part shows ready, 0 when it is
    // still in a write cycle an interrupted program started after the
    // longest such cycle.
    int eeWaitIdle();
    int writeEeprom(int bits);
    int readEeprom(int bits);
    int compareEeprom();
    int ProgramEeprom(CLogWindow* log);

    // ---- PCIe bridge EEPROM (engines/PcieEeprom.cpp) --------------------
    int writePcieEeprom();
    int readPcieEeprom();
    int comparePcieEeprom();
    int ProgramPcieEeprom(CLogWindow* log);

    // ---- FPGA configuration device (engines/FpgaConfig.cpp) -------------
    void EpcSelect(TFpga line, int on);
    void EpcDir(TFpga line, int out);
    void EpcData(TFpga line, int value);
    int EpcData(TFpga line);
    void setFpgaInitPorts();
    int setFpgaResetConfig();
    int setFpgaConfig();
    int getFpgaConfig(int* ok);
    int setEpcProgramMsb(int cs, int shift, unsigned char out, unsigned char* in, int dataOut, int clock);
    int setEpcProgramLsb(int cs, int shift, unsigned char out, unsigned char* in, int dataOut, int clock);
    int setEpcProgramBlockStart(unsigned long address);
    int setEpcProgramBlockEnd();
    int setEpcProgramBlockLsb(unsigned long address, const unsigned char* data, unsigned int count);
    int doFlashFpga(const unsigned char* image, unsigned int size);
    // Before anything is written: whether an FPGA image of `size` bytes (its
    // CRC included) fits the card's configuration device, asked of the
    // device (a read-only exchange) only when it could be too small. Reports
    // a refusal; the FPGA runs again afterwards either way.
    int CheckConfigDeviceFits(unsigned int size, CLogWindow* log);
    int identifyEpc(SpiPort& port, unsigned int size, CLogWindow* log);
    const char* getLastError() const {
        return m_lastError;
    }

#if VJX_WINDOWS_PROGRAM
    // ---- Configuration flash of PCIe-core cards (engines/ConfigFlash.cpp) -
    // Brings the flash behind SPICTL to the image (its CRC included);
    // *rewritten tells whether the flash differed, so that the FPGA must
    // load it again.
    int doFlashFpgaCore(const unsigned char* image, unsigned int size, int* rewritten);
#endif

    // ---- Update sequence (engines/UpdateSequence.cpp) -------------------
    int doFlash(CFile& file, CLogWindow& log, const char* cardName);
    int doFlashIsp(const char* cardName);
    // Whether the last update ran to its end but the version check of the
    // new firmware failed (no version answer, or its ISP version differs
    // from the FPGA's); the update counts as done, the card is suspect.
    bool VersionCheckFailed() const {
        return m_versionCheckFailed;
    }

    // ---- Internal communication port (engines/ComPort.cpp) --------------
    int Com_open();
    int Com_close();
    int Com_setTimeout(int ms);
    int Com_readFlush();
    int Com_readRam(int position);
    int Com_readPoll();
    int Com_readWait();
    int Com_read(char* dest, unsigned long count);
    int Com_read();
    void Com_writeRam(int index, int value);
    int Com_writeWait();
    int Com_writeLimit(const char* bytes, unsigned long count);
    int Com_write(const char* bytes, unsigned long count);
    int Com_write(char byte);
    bool Com_isOpen() const {
        return m_comOpen != 0;
    }

    // ---- ISP boot-loader protocol (engines/IspProtocol.cpp) -------------
    int doIspReset(int enterBootLoader);
    int doIspDetect();
    int sendIspRecord(unsigned char length, unsigned short address, unsigned char type, unsigned char* data);
    int sendIspCmd(unsigned char type, unsigned char d0);
    int sendIspCmd(unsigned char type, unsigned char d0, unsigned char d1);
    int sendIspCmd(unsigned char type, unsigned char d0, unsigned char d1, unsigned char d2);
    int sendIspDisplay(unsigned char type, unsigned short start, unsigned short end, unsigned char kind);
    int getIspB(unsigned char* out);
    int getIspResult(int count, unsigned char* out);
    int getIspVersion(unsigned int* version);
    int getIspMan(unsigned long* manufacturer);
    int getIspDev(unsigned long* device);
    int setIspEraseChip();
    int doProgramBSB(int value);
    int doProgramBLJB(int value);
    int setIspEraseBSB();
    int getIspBlankCheck(unsigned int blockCode, int* blank);

    // ---- Flash ROM and application start (engines/FlashRom.cpp) ---------
    int doFlashRom(int segmentCount, TRomVersions* versions);
    int doEnableBootrom();
    int doClearBSB();
    int setIspProgramBlock(unsigned int address, unsigned char* data, unsigned int length);
    int setIspProgram(unsigned int address, unsigned char* data, unsigned int length, int* acknowledged);
    int doIspStartApplication();

    // ---- Firmware version query (engines/FirmwareVersion.cpp) -----------
    int getVersion(TVersion* version);
    int getFirmwareVersionString(CString& version, CString& error, int& ispVersion, int& fpgaVersion);

private:
    // Identification
    TModel m_model;
    const char* m_modelDesc;
    const vjx::platform::Program* m_program = &vjx::platform::kThisProgram;
    VJX_PCI_STRUCT* m_pci = nullptr;
    CPciBridge m_bridge;
    uint32_t m_count9050 = 0;
    uint32_t m_count9030 = 0;
    uint32_t m_count9056 = 0;
    uint32_t m_bridgeType = BRIDGE_NONE;
    uint32_t m_libInitStatus = 0;

    // EEPROM images loaded by ReadFileHeader: the configuration image lives
    // until the object is destroyed, the PCIe image until the card is closed.
    std::vector<unsigned char> m_eeImage;
    unsigned m_eeImageSize = 0;
    std::vector<unsigned char> m_pcieImage;
    unsigned m_pcieImageSize = 0;
    unsigned char m_eeReadBack[140] = {};
    unsigned char m_pcieReadBack[48] = {};

    // Capacity of the FPGA configuration device the last doFlashFpga
    // identified (0: none); the FPGA's load wait is sized by it.
    uint32_t m_epcBytes = 0;
    // Value last written to SPICTL (PCIe-core cards).
    uint8_t m_spiCtl = 0;
    bool m_versionCheckFailed = false;

    // Engines' last-error text and the state of one update.
    CString m_lastError;
    TTcfSmall* m_tcf = nullptr;
    CFile* m_file = nullptr;
    CLogWindow* m_log = nullptr;

    // Internal communication port.
    int m_comOpen = 0;
    int m_comTimeout = 50;
    uint8_t m_comRingIndex = 0;
    unsigned char m_comBuffer[1000] = {};
    unsigned m_comCount = 0;
};
