// The one place where the Linux program and the Windows program differ in
// data: which framework they are built on, the model rows they know, and the
// few texts they word differently. Everything else is shared. It sits below
// every layer, so that each may ask it without reaching up.
#pragma once

// The desktop framework (strings, files, dialog classes, Sleep) is an outside
// library to every layer, reached by name on the include path as the
// framework's own header would be: the build puts app/linux (the Linux
// shim) or app/windows (the Windows framework layer) there.
// The Windows program is the MinGW build (_WIN32). VJX_WINDOWS_VARIANT builds
// the same Windows paths natively, over the framework layer's declarations
// with a scripted framework behind them, so that tests run them on Linux.
#if defined(_WIN32) || defined(VJX_WINDOWS_VARIANT)
#define VJX_WINDOWS_PROGRAM 1
#include <afxshim.h>
#else
#define VJX_WINDOWS_PROGRAM 0
#include <afx.h>
#endif

#include "../chips/Pex8111.h"

namespace vjx {
namespace platform {

constexpr bool kWindows = VJX_WINDOWS_PROGRAM != 0;

// Line break the log writes for every "\n" of its input.
constexpr const char* kLineBreak = kWindows ? "\r\n" : "\n";

// Version banner shown at start.
constexpr const char* kBanner = kWindows ? "VJX Flash Version 5.45" : "ORVEN VJX Flash Version 5.33";

// What each of the two programs accepts of an update file and how it reads
// one. A program is built with its own rules (kThisProgram); tools that
// answer for both programs (tcftool) hand either set to the same checks.
struct Program {
    const char* name;           // as the user knows the program
    int highestModuleCode;      // highest module code the reader and the model table accept
    int unknownModel;           // model number of an unknown card
    bool hasBridgeType4;        // knows the PCIe-core cards (revision 0x80)
    bool checkImageSeek;        // checks the file position after seeking to an image
    bool requireConfigEeprom;   // refuses a file that gives no configuration-EEPROM data
    bool longPcieEepromPreset;  // carries the 32-byte PEX 8111 preset, not the 26-byte one
};
inline constexpr Program kLinuxProgram = {"vjxflash", 0x5F, 16, false, false, true, false};
inline constexpr Program kWindowsProgram = {"VJXFlash", 0x63, 20, true, true, false, true};
inline constexpr const Program& kThisProgram = kWindows ? kWindowsProgram : kLinuxProgram;

// Highest module code the update-file reader and the model table accept.
constexpr int kHighestModuleCode = kThisProgram.highestModuleCode;

// Model number of an unknown card (the Linux table ends with model 15).
constexpr int kUnknownModel = kThisProgram.unknownModel;

// The Windows program describes a known model by its module code's name
// (GetCardName), the Linux program by the model table's own description.
constexpr bool kDescribeByCardName = kWindows;

// Bridge type 4 (PCIe core inside the FPGA, revision 0x80) is driven only by
// the Windows program; the Linux program treats such a card as type 3.
constexpr bool kHasBridgeType4 = kThisProgram.hasBridgeType4;

// Device asked for when looking for the PCIe bridge above a card: the Linux
// program asks for the PEX 8111 only, Windows for any PLX function.
constexpr unsigned kBridgeSearchDevice = kWindows ? 0x0000 : pex8111::kDeviceId;

// Driver version the PCI library requires (major * 100 + minor).
constexpr unsigned kRequiredDriverVersion = kWindows ? 1190 : 830;

// The Windows program checks the file position after seeking to an image.
constexpr bool kCheckImageSeek = kThisProgram.checkImageSeek;
// The Linux program refuses a file that gives no configuration-EEPROM data.
constexpr bool kRequireConfigEeprom = kThisProgram.requireConfigEeprom;

// The Windows driver writes PCI configuration space; the Linux access library
// has none, so a PCIe bridge reachable only through configuration cycles
// (slow mode) can be read but never changed there.
constexpr bool kDriverWritesConfigSpace = kWindows;

// The Linux program logs the FPGA erase as two lines ("Write enable FPGA...",
// "Bulk erase FPGA..."), Windows as one ("Bulk erasing FPGA...").
constexpr bool kSplitEraseLogLines = !kWindows;

// PEX 8111 EEPROM preset carried by each program: 32 bytes on Windows, 26 on
// Linux.
constexpr bool kLongPcieEepromPreset = kThisProgram.longPcieEepromPreset;

constexpr const char* kEpcSiliconIdUnknown =
    kWindows ? "FPGA silicon ID unknown: 0x%02X" : "EPC silicon ID unknown: 0x%02X";

// Error texts of the PCI library and device library that name the driver.
constexpr const char* kPciLibDeviceOpenFailed =
    kWindows ? "Failed opening WinDriver device\n" : "Failed opening ../Source/pci_lib device\n";

// The driver layer words its status reports after the driver it sits on
// ("WDC" and bracketed codes on Windows, "MERIX" on Linux) and uses that
// driver's status codes: see driver/wdc_lib.h, driver/wdc_device.cpp and
// Source/vjx_pci6_lib.cpp, each keyed on kWindows above.

}  // namespace platform
}  // namespace vjx
