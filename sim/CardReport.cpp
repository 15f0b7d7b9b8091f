#include "CardReport.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "Checksums.h"
#include "hw/Spi25.h"

namespace sim {
namespace {

const char* hostName(uint32_t key) {
    switch (key) {
        case 0x00000000:
            return "Unprogrammed card";
        case 0x903010B5:
            return "Unprogrammed PCI 3V card";
        case 0x905010B5:
            return "Unprogrammed PCI 5V card";
        case 0x905610B5:
            return "Unprogrammed PCIe card";
        default:
            return "(Unknown)";
    }
}

const char* modeName(McuMode m) {
    switch (m) {
        case McuMode::Off:
            return "off";
        case McuMode::Application:
            return "application";
        case McuMode::BootLoader:
            return "boot-loader";
    }
    return "?";
}

const char* epcsName(uint8_t id) {
    return id == spi25::kIdEpcs1 ? "EPCS1" : id == spi25::kIdEpcs4 ? "EPCS4" : "unsupported part";
}

std::string hex(uint32_t v, int digits) {
    char b[16];
    snprintf(b, sizeof b, "%0*x", digits, v);
    return b;
}

std::string busText(PciAddress a) {
    char b[16];
    snprintf(b, sizeof b, "%02x:%02x.%x", a.bus, a.slot, a.function);
    return b;
}

}  // namespace

bool dumpPart(Card& card, const std::string& part, std::vector<uint8_t>* out) {
    auto copy = [out](const NvRegion& r) { out->assign(r.data(), r.data() + r.size()); };
    const bool core = card.pcieCore();
    if (part == "eeprom" && !core)
        copy(card.eepromBytes());
    else if (part == "pcie-eeprom" && card.spec().hasPex8111Footprint())
        copy(card.pcieEepromBytes());
    else if ((part == "epcs" && !core) || (part == "flash" && core))
        *out = card.fpga().imageView(card.epcsBytes().size());
    else if (part == "mcu-flash")
        copy(card.mcuFlashBytes());
    else if (part == "mcu-boot")
        copy(card.mcuBootBytes());
    else
        return false;
    return true;
}

CardReport reportCard(Card& card, uint64_t nowUs) {
    CardReport r;
    r.number = card.number();
    r.spec = card.spec().text();
    r.chip = chipName(card.chip());
    PlxFunction& fn = card.cardFunction();
    if (card.answers(nowUs)) {
        r.deviceId = fn.deviceId();
        r.revision = static_cast<uint8_t>(fn.configRead(0x08, 8, nowUs));
        r.classCode = fn.configRead(0x08, 32, nowUs) >> 8;
        r.subsystem = fn.configRead(0x2C, 32, nowUs);
    } else {
        // What a configuration read of a function that does not answer gives.
        r.deviceId = 0xFFFF;
        r.revision = 0xFF;
        r.classCode = 0xFFFFFF;
        r.subsystem = 0xFFFFFFFF;
    }
    if (card.pcieCore()) {
        const FpgaState f = card.fpga().state();
        r.pcieLink = !f.configured                    ? "absent"
                     : !card.fpga().configured(nowUs) ? "loading"
                     : card.barsAssigned()            ? "up"
                                                      : "unassigned";
    }
    if (const ModelInfo* m = modelForKey(r.subsystem, r.revision)) {
        r.model = m->code;
        r.modelName = m->name;
    } else {
        r.modelName = hostName(r.subsystem);
    }
    r.address = fn.address();
    if (Pex8111Function* b = card.bridgeFunction()) {
        r.bridge = true;
        r.bridgeAddress = b->address();
        r.bridgeSlow = !b->hasAddressSpace();
        r.bridgeEepromLoaded = b->eepromLoad().loaded;
        r.bridgeRegisterLoads = b->eepromLoad().registers;
        r.bridgeEeprom = b->eepromLoadText();
    }
    r.options = card.spec().options;
    r.firmwareVersion = card.mcu().runningVersion();
    r.mcuMode = modeName(card.mcu().mode());
    r.fpgaConfigured = card.fpga().configured(nowUs);
    r.fpgaVersion = card.fpga().version(nowUs);
    r.bsb = card.mcu().bsb();
    r.bljb = card.mcu().bljb();
    const FpgaBlockOptions& fo = card.spec().parsed.fpga;
    r.epcsId = card.pcieCore() ? uint32_t(fo.flashManufacturer) << 16 | fo.flashDevice : fo.epcsId;
    r.configDevice = card.pcieCore() ? "serial flash" : epcsName(fo.epcsId);
    r.epcsSize = card.epcsBytes().size();
    std::vector<uint8_t> epcs = card.fpga().imageView(r.epcsSize);
    uint8_t version = 0;
    size_t imageSize = 0;
    if (fpga_image::parse(epcs.data(), epcs.size(), &version, &imageSize) && imageSize + 4 <= epcs.size()) {
        r.epcsImage = true;
        r.epcsImageSize = imageSize;
        r.configImageVersion = version;
        const uint8_t* c = &epcs[imageSize];
        r.epcsCrc = static_cast<uint32_t>(c[0]) | static_cast<uint32_t>(c[1]) << 8 |
                    static_cast<uint32_t>(c[2]) << 16 | static_cast<uint32_t>(c[3]) << 24;
        r.epcsCrcValid = r.epcsCrc == jamCrc32(epcs.data(), imageSize);
    }
    for (const char* part : {"eeprom", "pcie-eeprom", "epcs", "flash", "mcu-flash", "mcu-boot"}) {
        std::vector<uint8_t> bytes;
        if (dumpPart(card, part, &bytes)) r.digests.emplace_back(part, crc32Ieee(bytes.data(), bytes.size()));
    }
    return r;
}

std::string reportJson(const std::vector<CardReport>& cards) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& r : cards) {
        nlohmann::ordered_json c;
        c["number"] = r.number;
        c["spec"] = r.spec;
        c["chip"] = r.chip;
        c["device_id"] = r.deviceId;
        c["revision"] = r.revision;
        c["class_code"] = r.classCode;
        c["subsystem"] = r.subsystem;
        c["model"] = r.model >= 0 ? nlohmann::ordered_json(r.model) : nlohmann::ordered_json(nullptr);
        c["model_name"] = r.modelName;
        c["bus"] = r.address.bus;
        c["slot"] = r.address.slot;
        if (r.bridge)
            c["bridge"] = {{"bus", r.bridgeAddress.bus},
                           {"slot", r.bridgeAddress.slot},
                           {"slow", r.bridgeSlow},
                           {"eeprom_loaded", r.bridgeEepromLoaded},
                           {"register_loads", r.bridgeRegisterLoads}};
        else
            c["bridge"] = nullptr;
        c["options"] = r.options;
        c["firmware_version"] = r.firmwareVersion;
        c["mcu_mode"] = r.mcuMode;
        c["fpga_version"] = r.fpgaVersion;
        c["fpga_configured"] = r.fpgaConfigured;
        c["pcie_link"] =
            r.pcieLink.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.pcieLink);
        c["bsb"] = r.bsb;
        c["bljb"] = r.bljb;
        c["config_device"] = r.configDevice;
        c["epcs_id"] = r.epcsId;
        c["epcs_size"] = r.epcsSize;
        c["epcs_image_size"] =
            r.epcsImage ? nlohmann::ordered_json(r.epcsImageSize) : nlohmann::ordered_json(nullptr);
        c["epcs_crc"] = r.epcsImage ? nlohmann::ordered_json(r.epcsCrc) : nlohmann::ordered_json(nullptr);
        c["epcs_crc_valid"] = r.epcsCrcValid;
        c["config_image_version"] = r.configImageVersion >= 0 ? nlohmann::ordered_json(r.configImageVersion)
                                                              : nlohmann::ordered_json(nullptr);
        nlohmann::ordered_json d;
        for (const auto& kv : r.digests) d[kv.first] = hex(kv.second, 8);
        c["digests"] = d;
        list.push_back(c);
    }
    nlohmann::ordered_json j;
    j["cards"] = list;
    return j.dump() + "\n";
}

std::string reportText(const CardReport& r) {
    std::string t = "Card " + std::to_string(r.number) + " [" + r.spec + "]: " + r.modelName;
    if (r.model >= 0) t += " (module " + std::to_string(r.model) + ")";
    t += "\n  " + r.chip + " (device " + hex(r.deviceId, 4) + ") rev " + hex(r.revision, 2) + " at " +
         busText(r.address) + ", subsystem " + hex(r.subsystem, 8) + "\n";
    if (r.bridge)
        t += std::string("  PEX 8111 at ") + busText(r.bridgeAddress) +
             (r.bridgeSlow ? ", no address space (slow mode)" : "") + "; " + r.bridgeEeprom + "\n";
    else if (!r.pcieLink.empty())
        t += "  PCIe core in the FPGA, link " + r.pcieLink + "\n";
    else if (r.chip == "PCI 9056")
        t += "  no PEX 8111\n";
    t += "  firmware " + (r.firmwareVersion.empty() ? std::string("-") : r.firmwareVersion) + " (" +
         r.mcuMode + "), BSB 0x" + hex(r.bsb, 2) + ", BLJB 0x" + hex(r.bljb, 2) + "\n";
    t += "  FPGA " +
         (r.fpgaConfigured ? "version " + std::to_string(r.fpgaVersion) : std::string("not configured")) +
         "; " + r.configDevice + " (0x" + hex(r.epcsId, r.pcieLink.empty() ? 2 : 6) + ", " +
         std::to_string(r.epcsSize) + " bytes)";
    if (r.epcsImage)
        t += ", image version " + std::to_string(r.configImageVersion) + ", " +
             std::to_string(r.epcsImageSize) + " bytes, CRC 0x" + hex(r.epcsCrc, 8) +
             (r.epcsCrcValid ? "" : " (does not match)");
    else
        t += ", no image";
    t += "\n";
    if (!r.options.empty()) {
        t += "  options:";
        for (const auto& o : r.options) t += " " + o;
        t += "\n";
    }
    t += "  digests:";
    for (const auto& kv : r.digests) t += " " + kv.first + " " + hex(kv.second, 8);
    t += "\n";
    return t;
}

}  // namespace sim
