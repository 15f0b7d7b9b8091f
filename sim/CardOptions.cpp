#include "CardOptions.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>

namespace sim {
namespace {

bool parseNumber(const std::string& text, unsigned long long max, unsigned long long* out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > max) return false;
    *out = v;
    return true;
}

bool parseProbability(const std::string& text, double* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    double v = strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(v >= 0.0 && v <= 1.0)) return false;
    *out = v;
    return true;
}

using Apply = std::function<bool(const std::string& value, CardOptions& o)>;

struct OptionDef {
    OptionInfo info;
    bool takesValue;
    Apply apply;
    std::vector<Part> parts;  // parts whose content the option determines
};

template <typename T>
Apply number(T CardOptions::*field, unsigned long long max) {
    return [field, max](const std::string& v, CardOptions& o) {
        unsigned long long n;
        if (!parseNumber(v, max, &n)) return false;
        o.*field = static_cast<T>(n);
        return true;
    };
}

// One of a few words, each setting the options its own way.
Apply choice(std::vector<std::pair<const char*, std::function<void(CardOptions&)>>> words) {
    return [words](const std::string& v, CardOptions& o) {
        for (const auto& w : words)
            if (v == w.first) {
                w.second(o);
                return true;
            }
        return false;
    };
}

// A part's operation that hangs, takes a time of its own (slow:N, N in
// units of `unitUs`), or is back to normal (ok).
Apply slowOrHang(bool FpgaBlockOptions::*hangs, int64_t FpgaBlockOptions::*time, uint64_t unitUs) {
    return [hangs, time, unitUs](const std::string& v, CardOptions& o) {
        if (v == "hang" || v == "ok") {
            o.fpga.*hangs = v == "hang";
            o.fpga.*time = -1;
            return true;
        }
        unsigned long long n;
        if (v.compare(0, 5, "slow:") != 0 || !parseNumber(v.substr(5), 3600000000ull / unitUs, &n))
            return false;
        o.fpga.*hangs = false;
        o.fpga.*time = static_cast<int64_t>(n * unitUs);
        return true;
    };
}

const std::vector<OptionDef>& defs() {
    using K = OptionKind;
    static const std::vector<OptionDef> table = {
        {{"bridge", "bridge=none", "PCIe card without its PEX 8111 bridge", K::Wiring},
         true,
         choice({{"none", [](CardOptions& o) { o.noBridge = true; }},
                 {"pex8111", [](CardOptions& o) { o.noBridge = false; }}}),
         {}},
        {{"slow", "slow", "PEX 8111 without address space (reached through MAININDEX/MAINDATA only)",
          K::Wiring},
         false,
         [](const std::string&, CardOptions& o) { return o.slowBridge = true; },
         {}},
        {{"open", "open=fail|denied",
          "the card is found on the bus but cannot be opened (fail), or its registers refuse a user "
          "without root rights (denied: configuration reads still work)",
          K::Wiring},
         true,
         choice({{"fail", [](CardOptions& o) { o.openFails = true; }},
                 {"denied", [](CardOptions& o) { o.registersDenied = true; }},
                 {"ok",
                  [](CardOptions& o) {
                      o.openFails = false;
                      o.registersDenied = false;
                  }}}),
         {}},
        {{"fw", "fw=TEXT", "firmware version text of the card's application (default 1.00)", K::Content},
         true,
         [](const std::string& v, CardOptions& o) {
             firmware_image::Version ver;
             if (!firmware_image::versionFromText(v, 0, &ver)) return false;
             o.firmware = v;
             return true;
         },
         {Part::McuFlash}},
        {{"isp", "isp=N", "ISP version number in the firmware (default: the FPGA's version)", K::Content},
         true,
         number(&CardOptions::isp, 255),
         {Part::McuFlash}},
        {{"fpga", "fpga=N", "version of the FPGA image in the configuration device (default 3)", K::Content},
         true,
         number(&CardOptions::fpgaVersion, 255),
         {Part::Epcs, Part::McuFlash}},
        {{"fpga-size", "fpga-size=BYTES", "size of that FPGA image (default 32768)", K::Content},
         true,
         [](const std::string& v, CardOptions& o) {
             unsigned long long n;
             if (!parseNumber(v, 16u << 20, &n) || n < fpga_image::kMinSize) return false;
             o.fpgaSize = n;
             return true;
         },
         {Part::Epcs}},
        {{"fw-size", "fw-size=BYTES", "size of the firmware image: 16384, 32768, 49152 or 65536", K::Content},
         true,
         [](const std::string& v, CardOptions& o) {
             unsigned long long n;
             if (!parseNumber(v, 65536, &n) || n == 0 || n % 16384 != 0) return false;
             o.firmwareSize = n;
             return true;
         },
         {Part::McuFlash}},
        {{"epcs", "epcs=ID",
          "silicon ID of the configuration device: 0x10 EPCS1, 0x12 EPCS4 (default), other: "
          "an unsupported part",
          K::Content},
         true,
         [](const std::string& v, CardOptions& o) {
             unsigned long long n;
             if (!parseNumber(v, 255, &n)) return false;
             o.fpga.epcsId = static_cast<uint8_t>(n);
             return true;
         },
         {Part::Epcs}},
        {{"flash-cr1", "flash-cr1=N",
          "PCIe-core card: register 2 (CR1NV) of the serial flash from the factory (default 0x02)",
          K::Content},
         true,
         number(&CardOptions::flashCr1, 255),
         {Part::Epcs}},
        {{"eeprom", "eeprom=old", "configuration EEPROM with older content (same subsystem ID)", K::Content},
         true,
         choice({{"old", [](CardOptions& o) { o.oldEeprom = true; }},
                 {"current", [](CardOptions& o) { o.oldEeprom = false; }}}),
         {Part::Eeprom}},
        {{"pcie-eeprom", "pcie-eeprom=old", "PEX 8111 EEPROM with older content", K::Content},
         true,
         choice({{"old", [](CardOptions& o) { o.oldPcieEeprom = true; }},
                 {"current", [](CardOptions& o) { o.oldPcieEeprom = false; }}}),
         {Part::PcieEeprom}},
        {{"eeprom-fault", "eeprom-fault=absent|never-ready|stuck[:BIT]",
          "configuration EEPROM: DO stays high / a write never completes / bit BIT (default 9) of every word "
          "does not take a write",
          K::Fault},
         true,
         [](const std::string& v, CardOptions& o) {
             MicrowireFaults f;
             if (v == "absent")
                 f.absent = true;
             else if (v == "never-ready")
                 f.neverReady = true;
             else if (v == "stuck")
                 f.stuckBit = 9;  // a bit in which the older factory contents differ
             else if (v.compare(0, 6, "stuck:") == 0) {
                 unsigned long long bit;
                 if (!parseNumber(v.substr(6), 15, &bit)) return false;
                 f.stuckBit = static_cast<int>(bit);
             } else if (v != "none")
                 return false;
             o.eeprom = f;
             return true;
         },
         {}},
        {{"pcie-eeprom-fault", "pcie-eeprom-fault=dead",
          "the PEX 8111's EEPROM answers nothing, stores nothing", K::Fault},
         true,
         choice({{"dead", [](CardOptions& o) { o.pcieEeprom.dead = true; }},
                 {"none", [](CardOptions& o) { o.pcieEeprom.dead = false; }}}),
         {}},
        {{"eectl", "eectl=stuck", "EECTL busy bit never clears", K::Fault},
         true,
         choice({{"stuck", [](CardOptions& o) { o.eectlStuck = true; }},
                 {"ok", [](CardOptions& o) { o.eectlStuck = false; }}}),
         {}},
        {{"epcs-erase", "epcs-erase=hang", "bulk erase of the configuration device never completes",
          K::Fault},
         true,
         choice({{"hang", [](CardOptions& o) { o.fpga.eraseHangs = true; }},
                 {"ok", [](CardOptions& o) { o.fpga.eraseHangs = false; }}}),
         {}},
        {{"epcs-write", "epcs-write=hang", "page program of the configuration device never completes",
          K::Fault},
         true,
         choice({{"hang", [](CardOptions& o) { o.fpga.writeHangs = true; }},
                 {"ok", [](CardOptions& o) { o.fpga.writeHangs = false; }}}),
         {}},
        {{"flash-id", "flash-id=MAN:DEV",
          "PCIe-core card: the serial flash answers this JEDEC manufacturer and device ID (default "
          "0x01:0x6017)",
          K::Fault},
         true,
         [](const std::string& v, CardOptions& o) {
             size_t colon = v.find(':');
             unsigned long long man, dev;
             if (colon == std::string::npos || !parseNumber(v.substr(0, colon), 255, &man) ||
                 !parseNumber(v.substr(colon + 1), 0xFFFF, &dev))
                 return false;
             o.fpga.flashManufacturer = static_cast<uint8_t>(man);
             o.fpga.flashDevice = static_cast<uint16_t>(dev);
             return true;
         },
         {}},
        {{"flash-erase", "flash-erase=hang|slow:MS",
          "PCIe-core card: a block erase of the serial flash never completes / takes MS milliseconds",
          K::Fault},
         true,
         slowOrHang(&FpgaBlockOptions::eraseHangs, &FpgaBlockOptions::flashEraseUs, 1000),
         {}},
        {{"flash-write", "flash-write=hang|slow:US",
          "PCIe-core card: a page program of the serial flash never completes / takes US microseconds",
          K::Fault},
         true,
         slowOrHang(&FpgaBlockOptions::writeHangs, &FpgaBlockOptions::flashPageUs, 1),
         {}},
        {{"reenumerate", "reenumerate=fail",
          "PCIe-core card: the system's re-enumeration of the devices fails", K::Fault},
         true,
         choice({{"fail", [](CardOptions& o) { o.reenumerateFails = true; }},
                 {"ok", [](CardOptions& o) { o.reenumerateFails = false; }}}),
         {}},
        {{"fpga-config", "fpga-config=never|done-while-held",
          "the FPGA never reaches configuration done, or its configuration-done line reads 1 while it is "
          "held",
          K::Fault},
         true,
         choice({{"never", [](CardOptions& o) { o.fpga.neverConfigures = true; }},
                 {"done-while-held", [](CardOptions& o) { o.fpga.doneWhileHeld = true; }},
                 {"normal",
                  [](CardOptions& o) {
                      o.fpga.neverConfigures = false;
                      o.fpga.doneWhileHeld = false;
                  }}}),
         {}},
        {{"fpga-version", "fpga-version=N", "VERSION reads N after any configuration (e.g. 0 or 0xff)",
          K::Fault},
         true,
         [](const std::string& v, CardOptions& o) {
             unsigned long long n;
             if (!parseNumber(v, 255, &n)) return false;
             o.fpga.versionOverride = static_cast<int>(n);
             return true;
         },
         {}},
        {{"mcu", "mcu=silent|short:N",
          "the microcontroller never answers / the application answers only N of "
          "the 5 version bytes",
          K::Fault},
         true,
         [](const std::string& v, CardOptions& o) {
             if (v == "silent") {
                 o.mcu.silent = true;
                 o.mcu.shortAnswer = -1;
             } else if (v.compare(0, 6, "short:") == 0) {
                 unsigned long long n;
                 if (!parseNumber(v.substr(6), 4, &n)) return false;
                 o.mcu.silent = false;
                 o.mcu.shortAnswer = static_cast<int>(n);
             } else if (v == "normal") {
                 o.mcu.silent = false;
                 o.mcu.shortAnswer = -1;
             } else {
                 return false;
             }
             return true;
         },
         {}},
        {{"boot-request", "boot-request=ignored", "the reset's boot-loader request has no effect", K::Fault},
         true,
         choice({{"ignored", [](CardOptions& o) { o.mcu.bootRequestIgnored = true; }},
                 {"honoured", [](CardOptions& o) { o.mcu.bootRequestIgnored = false; }}}),
         {}},
        {{"app-s", "app-s=ignored", "the application ignores \"S\"", K::Fault},
         true,
         choice({{"ignored", [](CardOptions& o) { o.mcu.appIgnoresS = true; }},
                 {"honoured", [](CardOptions& o) { o.mcu.appIgnoresS = false; }}}),
         {}},
        {{"app-t", "app-t=ignored", "the application ignores \"T\" (no answer, no FPGA reload)", K::Fault},
         true,
         choice({{"ignored", [](CardOptions& o) { o.mcu.appIgnoresT = true; }},
                 {"honoured", [](CardOptions& o) { o.mcu.appIgnoresT = false; }}}),
         {}},
        {{"isp-man", "isp-man=N", "manufacturer ID the boot loader reports (default 0x58)", K::Fault},
         true,
         [](const std::string& v, CardOptions& o) {
             unsigned long long n;
             if (!parseNumber(v, 255, &n)) return false;
             o.mcu.ispManufacturer = static_cast<int>(n);
             return true;
         },
         {}},
        {{"isp-dev", "isp-dev=N", "device ID the boot loader reports (default 0xD7ECEF)", K::Fault},
         true,
         [](const std::string& v, CardOptions& o) {
             unsigned long long n;
             if (!parseNumber(v, 0xFFFFFF, &n)) return false;
             o.mcu.ispDevice = static_cast<long>(n);
             return true;
         },
         {}},
        {{"isp-record", "isp-record=refuse", "programming records answered 'X'", K::Fault},
         true,
         choice({{"refuse", [](CardOptions& o) { o.mcu.refuseRecords = true; }},
                 {"accept", [](CardOptions& o) { o.mcu.refuseRecords = false; }}}),
         {}},
        {{"bl-after-start", "bl-after-start=stays", "the boot loader keeps answering after the start record",
          K::Fault},
         true,
         choice({{"stays", [](CardOptions& o) { o.mcu.bootLoaderStaysAfterStart = true; }},
                 {"leaves", [](CardOptions& o) { o.mcu.bootLoaderStaysAfterStart = false; }}}),
         {}},
        {{"app-start", "app-start=fails", "the start record does not bring up an application", K::Fault},
         true,
         choice({{"fails", [](CardOptions& o) { o.mcu.appStartFails = true; }},
                 {"ok", [](CardOptions& o) { o.mcu.appStartFails = false; }}}),
         {}},
        {{"link", "link=noise:P:SEED|baud:N",
          "serial link FPGA-microcontroller: each byte corrupted or dropped with probability P (reproducible "
          "from SEED) / N baud (default 115200)",
          K::Fault},
         true,
         [](const std::string& v, CardOptions& o) {
             if (v.compare(0, 6, "noise:") == 0) {
                 size_t colon = v.find(':', 6);
                 if (colon == std::string::npos) return false;
                 double p;
                 unsigned long long seed;
                 if (!parseProbability(v.substr(6, colon - 6), &p) ||
                     !parseNumber(v.substr(colon + 1), ~0ull, &seed))
                     return false;
                 o.link.noise = p;
                 o.link.seed = seed;
             } else if (v.compare(0, 5, "baud:") == 0) {
                 unsigned long long baud;
                 if (!parseNumber(v.substr(5), 10000000, &baud) || baud < 50) return false;
                 o.link.baud = static_cast<unsigned>(baud);
             } else if (v == "clean") {
                 o.link.noise = 0.0;
             } else {
                 return false;
             }
             return true;
         },
         {}},
    };
    return table;
}

const OptionDef* findDef(const std::string& name) {
    for (const auto& d : defs())
        if (name == d.info.name) return &d;
    return nullptr;
}

// The setting an option text stands for: its name, and for the link its
// kind, so that link=noise and link=baud live side by side.
std::string settingKey(const std::string& text) {
    std::string name = optionName(text);
    if (name != "link") return name;
    size_t eq = text.find('=');
    std::string value = eq == std::string::npos ? "" : text.substr(eq + 1);
    return "link=" + value.substr(0, value.find(':'));
}

}  // namespace

std::string optionName(const std::string& text) {
    return text.substr(0, text.find('='));
}

const std::vector<OptionInfo>& optionTable() {
    static const std::vector<OptionInfo> infos = [] {
        std::vector<OptionInfo> v;
        for (const auto& d : defs()) v.push_back(d.info);
        return v;
    }();
    return infos;
}

std::string optionHelp() {
    std::string out;
    for (const auto& d : defs()) {
        std::string line = "  " + std::string(d.info.syntax);
        line.resize(std::max<size_t>(line.size() + 2, 48), ' ');
        out += line + d.info.help + "\n";
    }
    out += "  NAME=default                                  back to the option's default\n";
    return out;
}

bool applyOption(const std::string& text, CardOptions& options, std::string* error) {
    std::string name = optionName(text);
    size_t eq = text.find('=');
    std::string value = eq == std::string::npos ? "" : text.substr(eq + 1);
    const OptionDef* def = findDef(name);
    auto fail = [&](const std::string& why) {
        if (error) *error = "option '" + text + "': " + why;
        return false;
    };
    if (!def) return fail("unknown option");
    if (value == "default" && eq != std::string::npos) return true;  // handled by the stored list
    if (!def->takesValue) {
        if (eq != std::string::npos) return fail(std::string("takes no value, write just '") + name + "'");
        return def->apply(value, options) || fail("invalid");
    }
    if (eq == std::string::npos || value.empty())
        return fail(std::string("needs a value: ") + def->info.syntax);
    if (!def->apply(value, options)) return fail(std::string("bad value, expected ") + def->info.syntax);
    return true;
}

bool applyOptions(const std::vector<std::string>& texts, CardOptions& options, std::string* error) {
    for (const auto& t : texts)
        if (!applyOption(t, options, error)) return false;
    return true;
}

bool mergeOptions(std::vector<std::string>& stored, const std::vector<std::string>& changes,
                  std::string* error) {
    CardOptions probe;
    if (!applyOptions(changes, probe, error)) return false;
    std::vector<std::string> result = stored;
    for (const auto& change : changes) {
        bool reset = change.size() > 8 && change.compare(change.size() - 8, 8, "=default") == 0;
        std::string name = optionName(change);
        std::string key = settingKey(change);
        std::vector<std::string> kept;
        for (const auto& s : result) {
            bool same = reset ? optionName(s) == name : settingKey(s) == key;
            // link=clean ends the noise but keeps a baud rate.
            if (!reset && change == "link=clean") same = settingKey(s) == "link=noise" || s == "link=clean";
            if (!same) kept.push_back(s);
        }
        if (!reset) kept.push_back(change);
        result.swap(kept);
    }
    CardOptions check;
    if (!applyOptions(result, check, error)) return false;
    stored.swap(result);
    return true;
}

OptionKind optionKindOf(const std::string& text) {
    const OptionDef* def = findDef(optionName(text));
    return def ? def->info.kind : OptionKind::Fault;
}

std::vector<Part> partsDeterminedBy(const std::vector<std::string>& texts) {
    std::vector<Part> parts;
    for (const auto& t : texts) {
        const OptionDef* def = findDef(optionName(t));
        if (!def) continue;
        for (Part p : def->parts) {
            bool have = false;
            for (Part q : parts) have = have || q == p;
            if (!have) parts.push_back(p);
        }
    }
    return parts;
}

}  // namespace sim
