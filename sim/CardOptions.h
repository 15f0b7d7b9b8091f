// Per-card rack options: wiring (bridge=none, slow, open=fail), what a new
// card carries (fw=, isp=, fpga=, epcs=, eeprom=old, ...) and the faults of
// its parts (mcu=silent, eeprom-fault=..., epcs-erase=hang, ...). Every
// option is written NAME=VALUE (or just NAME for a switch) after the card's
// model in `vjxsim new --card` and in `vjxsim set`; one table knows them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devices/FpgaBlock.h"
#include "devices/Microcontroller.h"
#include "devices/MicrowireEeprom.h"
#include "devices/SpiEeprom25.h"

namespace sim {

struct CardOptions {
    // Wiring.
    bool noBridge = false;         // a PCIe card without its PEX 8111
    bool slowBridge = false;       // a PEX 8111 without address space
    bool openFails = false;        // the card answers enumeration but cannot be opened
    bool registersDenied = false;  // its configuration reads, its register files refuse this user
    // Content of a new card (and of the parts `vjxsim set` rewrites).
    std::string firmware = "1.00";
    int isp = -1;  // -1: equal to the FPGA's version
    int fpgaVersion = 3;
    size_t fpgaSize = 32768;
    size_t firmwareSize = 32768;
    bool oldEeprom = false;
    bool oldPcieEeprom = false;
    int flashCr1 = 0x02;  // PCIe-core cards: the serial flash's register 2 (CR1NV) from the factory
    // Faults of the parts.
    MicrowireFaults eeprom;
    SpiEepromFaults pcieEeprom;
    bool eectlStuck = false;
    FpgaBlockOptions fpga;  // epcsId lives here too
    McuOptions mcu;
    LinkOptions link;
    bool reenumerateFails = false;  // PCIe-core cards: the system's re-enumeration fails

    int ispVersion() const { return isp >= 0 ? isp : fpgaVersion; }
};

// Which part of a card an option's value is written into when the card is
// made (Content), or how the card behaves (Wiring, Fault).
enum class OptionKind { Wiring, Content, Fault };

enum class Part { Eeprom, PcieEeprom, Epcs, McuFlash };

struct OptionInfo {
    const char* name;
    const char* syntax;  // "fw=TEXT"
    const char* help;
    OptionKind kind;
};
const std::vector<OptionInfo>& optionTable();
// Help text listing every option, one per line.
std::string optionHelp();

// Applies one option text to `options`; false with a message for anything
// unknown or malformed.
bool applyOption(const std::string& text, CardOptions& options, std::string* error);
// Applies a list in order.
bool applyOptions(const std::vector<std::string>& texts, CardOptions& options, std::string* error);

// Merges `changes` into a card's stored option list: an option replaces an
// earlier one of the same setting, NAME=default removes it. Validates
// everything first; on failure `stored` is left as it was.
bool mergeOptions(std::vector<std::string>& stored, const std::vector<std::string>& changes,
                  std::string* error);
// The parts whose content the given option texts determine.
std::vector<Part> partsDeterminedBy(const std::vector<std::string>& texts);
// What kind of option a text is (an unknown name counts as a fault).
OptionKind optionKindOf(const std::string& text);
// The option's name (text before '=').
std::string optionName(const std::string& text);

}  // namespace sim
