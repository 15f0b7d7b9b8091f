// The microcontroller's protocols as the simulated part speaks them: the
// application's one-character requests, and the ISP boot loader's Intel HEX
// records (record types, command and read selectors, answers), from the
// part family's boot-loader documentation.
#pragma once

#include <cstdint>

namespace sim {
namespace mcu_reset {
// The 89C51-class microcontroller on its 11.0592 MHz crystal: RST must stay
// high for two machine cycles (24 oscillator periods, 2.2 us) with the
// oscillator running to reset the part; a shorter pulse does nothing. The
// boot-loader request (the hardware condition, PSEN held low) is taken when
// RST falls and must still be there when the reset sequence reads it, which
// we take as 1 ms after the falling edge (an estimate: no data sheet figure
// was confirmed).
constexpr uint64_t kPulseMinNs = 2200;
constexpr uint64_t kBootHoldUs = 1000;
}  // namespace mcu_reset

namespace isp {

// Application requests.
constexpr uint8_t kAppVersion = 'R';     // five version bytes
constexpr uint8_t kAppBootLoader = 'S';  // Boot Status Byte set, restart into the boot loader
constexpr uint8_t kAppReload = 'T';      // FPGA reloads its configuration

// Boot loader: ':' starts a record, 'U' is answered with its echo.
constexpr uint8_t kRecordMark = ':';
constexpr uint8_t kSync = 'U';
constexpr uint8_t kAbort = 'X';
constexpr unsigned kMaxProgramLength = 128;
constexpr unsigned kFlashPage = 128;  // a programming record writes within one page

enum RecordType : uint8_t {
    kProgram = 0x00,
    kEndOfFile = 0x01,
    kCommand = 0x03,
    kDisplay = 0x04,
    kRead = 0x05,
};

// Command records (type 0x03), by their data bytes.
constexpr uint8_t kCmdChipErase = 0x07;  // 07: whole flash and BSB
constexpr uint8_t kCmdWriteBoot = 0x06;  // 06 00 v: BSB := v
constexpr uint8_t kCmdWriteBootBsb = 0x00;
constexpr uint8_t kCmdWriteFuse = 0x0A;  // 0A 04 v: BLJB := v
constexpr uint8_t kCmdWriteFuseBljb = 0x04;
constexpr uint8_t kCmdEraseBoot = 0x04;  // 04 00: BSB erased
constexpr uint8_t kCmdEraseBootBsb = 0x00;
constexpr uint8_t kCmdStart = 0x03;  // 03 01 00 00: jump to the application at 0
constexpr uint8_t kCmdStartJump = 0x01;

// Display records (type 0x04): first, last address, kind.
constexpr uint8_t kDisplayBlankCheck = 0x01;

// Read records (type 0x05): two selector bytes.
constexpr uint8_t kReadIdent = 0x00;  // 00 n: identification byte n
constexpr uint8_t kIdentManufacturer = 0x00;
constexpr uint8_t kIdentDevice1 = 0x01;  // device ID, most significant byte
constexpr uint8_t kIdentDevice2 = 0x02;
constexpr uint8_t kIdentDevice3 = 0x03;
constexpr uint8_t kReadBootLoader = 0x0F;  // 0F 00: boot loader version

// Answers: '.', CR, LF; a wrong checksum 'X', CR, LF; other failures 'X'
// and three letters, CR, LF.
constexpr const char* kAcknowledge = ".\r\n";
constexpr const char* kChecksumWrong = "X\r\n";
constexpr const char* kRefused = "XPRG\r\n";
constexpr const char* kTooLong = "XLEN\r\n";
constexpr const char* kNotBlank = "XBLK\r\n";
constexpr const char* kUnknown = "XCMD\r\n";

}  // namespace isp
}  // namespace sim
