// The PEX 8111 PCIe-to-PCI bridge above a PCIe card: found on the bus as the
// bridge whose secondary bus is the card's bus; its EEPROM control and GPIO
// control registers are reached through its memory space 0 or, without one,
// through its configuration space (MAININDEX/MAINDATA, the slow mode).
#pragma once

#include <cstdint>

#include "../driver/wd_types.h"

class CPciBridge {
public:
    CPciBridge();
    virtual ~CPciBridge();
    CPciBridge(const CPciBridge&) = delete;
    CPciBridge& operator=(const CPciBridge&) = delete;

    int Open(uint32_t vendor, uint32_t device, const WD_PCI_SLOT* cardSlot);
    void Close();
    bool IsOpen() const { return m_open != 0; }
    bool SlowFpgaMode() const { return m_memoryMapped == 0; }

    uint32_t ReadEECTL();
    void WriteEECTL(uint32_t value);
    uint32_t ReadGPIOCTL(int refresh);
    void WriteGPIOCTL(uint32_t value);

    uint32_t ReadID();
    uint32_t ReadCLASS();
    uint32_t ReadPRIMBUSNUM();
    uint32_t ReadSECBUSNUM();
    uint32_t ReadBytes(uint32_t offset, uint32_t count);
    void WriteBytes(uint32_t offset, uint32_t count, uint32_t value);
    uint32_t ReadMAININDEX();
    void WriteMAININDEX(uint32_t value);
    uint32_t ReadMAINDATA(uint32_t count);
    void WriteMAINDATA(uint32_t count, uint32_t value);
    uint32_t ReadBytesLCR(uint32_t offset, uint32_t count);
    void WriteBytesLCR(uint32_t offset, uint32_t count, uint32_t value);
    void PANIC(const char*) {}

    // Byte protocol of the EEPROM behind EECTL (engines/PcieEeprom.cpp).
    // EE_WaitIdle answers -1 when busy never clears; the byte operations then
    // end the transfer (chip select off) and remember the failure, which
    // EE_Failed reports until the next EE_Off that succeeds.
    int EE_WaitIdle();
    void EE_Off();
    void EE_WriteByte(unsigned char b);
    int EE_ReadByte();
    void EE_WriteData(int address, int count, const unsigned char* data);
    void EE_ReadData(int address, int count, unsigned char* data);
    bool EE_Failed() const { return m_eeFailed; }
    // Before the first command of a stage: true once the EEPROM's status
    // shows no write in progress, false when it still does after its
    // longest write cycle (engines/PcieEeprom.cpp).
    bool EE_WaitWriteEnd();
    void EE_ClearFailure() { m_eeFailed = false; }

private:
    WD_HANDLE m_driver = nullptr;
    WD_PCI_SLOT m_slot = {};
    uint32_t m_id = 0;
    uint32_t m_class = 0;
    int m_open = 0;
    uint32_t m_gpioctl = 0;
    WDC_DEVICE_HANDLE m_device = nullptr;
    int m_memoryMapped = 0;
    uint32_t m_mainIndex = 0;
    bool m_eeFailed = false;
};
