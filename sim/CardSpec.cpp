#include "CardSpec.h"

#include <cstdlib>

namespace sim {

bool CardSpec::make(const std::string& model, const std::vector<std::string>& options, CardSpec* out,
                    std::string* error) {
    CardSpec spec;
    spec.model = model;
    if (model.compare(0, 6, "blank-") == 0) {
        if (!chipFromText(model.c_str() + 6, &spec.chip)) {
            if (error) *error = "unknown card '" + model + "' (blank-9030, blank-9050 or blank-9056)";
            return false;
        }
        spec.blank = true;
    } else {
        char* end = nullptr;
        long code = model.empty() ? -1 : strtol(model.c_str(), &end, 10);
        spec.info = (end && *end == '\0') ? findModel(static_cast<int>(code)) : nullptr;
        if (!spec.info) {
            if (error)
                *error = "unknown card '" + model + "' (a module code 80..99, or blank-9030/9050/9056)";
            return false;
        }
        spec.chip = spec.info->chip;
    }
    std::vector<std::string> merged;
    if (!mergeOptions(merged, options, error)) return false;
    spec.options = merged;
    if (!applyOptions(spec.options, spec.parsed, error)) return false;
    for (const auto& o : spec.options) {
        std::string name = optionName(o);
        if (spec.blank && (name == "eeprom" || name == "pcie-eeprom")) {
            if (error) *error = "option '" + o + "': a blank card has no factory content to be old";
            return false;
        }
        if (!spec.hasPex8111Footprint() && (name == "bridge" || name == "slow" || name == "pcie-eeprom" ||
                                            name == "pcie-eeprom-fault" || name == "eectl")) {
            if (error)
                *error = "option '" + o +
                         "': only a PCIe card with a PLX bridge (models 81..85, 87) has a PEX 8111";
            return false;
        }
        const bool flashOption = name == "flash-id" || name == "flash-erase" || name == "flash-write" ||
                                 name == "flash-cr1" || name == "reenumerate";
        if (!spec.pcieCore() && flashOption) {
            if (error) *error = "option '" + o + "': only a PCIe-core card (models 96..99) has it";
            return false;
        }
        if (spec.pcieCore() && (name == "epcs" || name == "epcs-erase" || name == "epcs-write" ||
                                name == "eeprom" || name == "eeprom-fault")) {
            if (error)
                *error = "option '" + o +
                         "': a PCIe-core card has no EPCS and no configuration EEPROM (its FPGA presents the "
                         "function and loads from a serial flash)";
            return false;
        }
    }
    spec.parsed.fpga.serialFlash = spec.pcieCore();
    *out = spec;
    return true;
}

bool CardSpec::parse(const std::string& text, CardSpec* out, std::string* error) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    for (size_t i = 1; i < parts.size(); ++i)
        if (parts[i].empty()) {
            if (error) *error = "empty option in card '" + text + "'";
            return false;
        }
    std::vector<std::string> options(parts.begin() + 1, parts.end());
    return make(parts[0], options, out, error);
}

std::string CardSpec::text() const {
    std::string t = model;
    for (const auto& o : options) t += "," + o;
    return t;
}

}  // namespace sim
