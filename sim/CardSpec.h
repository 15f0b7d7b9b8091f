// A card as the rack describes it: a module code (a programmed card of that
// model) or blank-9030/blank-9050/blank-9056 (an unprogrammed card), and its
// options. Written "84,fw=9.14,slow" on the command line.
#pragma once

#include <string>
#include <vector>

#include "CardModels.h"
#include "CardOptions.h"

namespace sim {

struct CardSpec {
    std::string model;  // "84" or "blank-9056"
    std::vector<std::string> options;

    bool blank = false;
    Chip chip = Chip::Pci9030;
    const ModelInfo* info = nullptr;  // null for a blank card
    CardOptions parsed;

    // Parses "MODEL[,OPTION]..."; false with a message.
    static bool parse(const std::string& text, CardSpec* out, std::string* error);
    // Builds from the stored model text and options.
    static bool make(const std::string& model, const std::vector<std::string>& options, CardSpec* out,
                     std::string* error);
    std::string text() const;  // "84,slow"
    // A PCIe-core card (models 96..99): no PEX 8111, no configuration
    // EEPROM, a serial flash behind the FPGA's SPICTL.
    bool pcieCore() const { return info && info->pcieCore; }
    // A PEX 8111 (and its EEPROM) is fitted.
    bool hasPex8111Footprint() const { return isPcie(chip) && !pcieCore(); }
};

}  // namespace sim
