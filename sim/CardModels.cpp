#include "CardModels.h"

#include <cstring>

namespace sim {
namespace {

const uint8_t k9030Preset[136] = {
    0xB5, 0x10, 0x30, 0x90, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x80, 0x04, 0xB5, 0x10, 0x00, 0x00,  //
    0x40, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x48, 0x01, 0x48, 0x00, 0x00, 0x00, 0x00,  //
    0x06, 0x4C, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
    0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x00, 0x00, 0x81, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x00, 0x00, 0x43, 0x01, 0x30, 0x00, 0x00, 0x50, 0x78, 0x00, 0x00, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};
constexpr size_t k9030SubsystemAt = 14;
constexpr size_t k9030TailAt = 124;

const uint8_t k9056Preset[100] = {
    0xB5, 0x10, 0x56, 0x90, 0xBA, 0x00, 0x80, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x01,  //
    0x00, 0x04, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x07, 0x42,  //
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x00, 0x00, 0xB5, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
    0x43, 0x00, 0x00, 0x00, 0x06, 0x4C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x48, 0x02, 0x00,  //
    0x00, 0x00, 0x00, 0x00,
};
constexpr size_t k9056SubsystemAt = 70;

const uint8_t kTails[3][4] = {{0, 0, 0, 0}, {0x49, 0x92, 0x24, 0x02}, {0x00, 0x00, 0x00, 0x06}};

const uint8_t kPcieEeprom[26] = {0x5A, 0x03, 0x12, 0x00, 0x34, 0x00, 0x50, 0x00, 0x00,
                                 0x00, 0x48, 0x00, 0x02, 0x00, 0x00, 0x00, 0x20, 0x10,
                                 0x80, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};

}  // namespace

uint16_t chipDeviceId(Chip chip) {
    switch (chip) {
        case Chip::Pci9050:
            return 0x9050;
        case Chip::Pci9030:
            return 0x9030;
        case Chip::Pci9056:
            return 0x9056;
    }
    return 0;
}

const char* chipName(Chip chip) {
    switch (chip) {
        case Chip::Pci9050:
            return "PCI 9050";
        case Chip::Pci9030:
            return "PCI 9030";
        case Chip::Pci9056:
            return "PCI 9056";
    }
    return "?";
}

bool chipFromText(const char* text, Chip* out) {
    if (strcmp(text, "9050") == 0)
        *out = Chip::Pci9050;
    else if (strcmp(text, "9030") == 0)
        *out = Chip::Pci9030;
    else if (strcmp(text, "9056") == 0)
        *out = Chip::Pci9056;
    else
        return false;
    return true;
}

const std::vector<ModelInfo>& models() {
    // Never destroyed: cards saved by the access library's exit handlers
    // still look at their models.
    static const std::vector<ModelInfo>& table = *new std::vector<ModelInfo>{
        {80, "VJX PCI S", Chip::Pci9030, 0x3068, 2, false},
        {81, "VJX PCIe S", Chip::Pci9056, 0x3352, 0, false},
        {82, "VJX PCIe R", Chip::Pci9056, 0x3353, 0, false},
        {83, "VJX PCIe M", Chip::Pci9056, 0x3354, 0, false},
        {84, "VJX PCIe K", Chip::Pci9056, 0x3355, 0, false},
        {85, "PCIe Q", Chip::Pci9056, 0x3415, 0, false},
        {86, "VJX PCI R (v2)", Chip::Pci9030, 0x3463, 2, false},
        {87, "VJX PCIe Z", Chip::Pci9056, 0x3493, 0, false},
        {88, "VJX PCI M (5V)", Chip::Pci9050, 0x2221, 1, false},
        {89, "VJX PCI R (5V)", Chip::Pci9050, 0x2431, 1, false},
        {90, "VJX PCI M", Chip::Pci9030, 0x2862, 1, false},
        {91, "PCI Q (5V)", Chip::Pci9050, 0x2905, 1, false},
        {92, "PCI Q", Chip::Pci9030, 0x2906, 1, false},
        {93, "VJX PCI R", Chip::Pci9030, 0x2940, 1, false},
        {94, "VJX PCI K", Chip::Pci9030, 0x3025, 1, false},
        {95, "VJX PCI K (v2)", Chip::Pci9030, 0x3591, 2, false},
        {96, "VJX PCIe M (v2)", Chip::Pci9056, 0x3354, 0, true},
        {97, "VJX PCIe K (v2)", Chip::Pci9056, 0x3355, 0, true},
        {98, "VJX PCIe Q (v2)", Chip::Pci9056, 0x3415, 0, true},
        {99, "VJX PCIe Z (v2)", Chip::Pci9056, 0x3493, 0, true},
    };
    return table;
}

const ModelInfo* findModel(int code) {
    for (const auto& m : models())
        if (m.code == code) return &m;
    return nullptr;
}

const ModelInfo* modelForKey(uint32_t key) {
    return modelForKey(key, 0);
}

const ModelInfo* modelForKey(uint32_t key, uint8_t revision) {
    if ((key & 0xFFFF) != kPlxVendor) return nullptr;
    const bool core = revision == kPcieCoreRevision;
    for (const auto& m : models())
        if (m.subsystemId == key >> 16 && (m.pcieCore == core || m.chip != Chip::Pci9056)) return &m;
    return nullptr;
}

Identity coreIdentity(const ModelInfo& model) {
    Identity id;
    id.subsystem = static_cast<uint32_t>(model.subsystemId) << 16 | kPlxVendor;
    id.revision = kPcieCoreRevision;
    id.classCode = 0x068000;
    return id;
}

Identity chipIdentity(Chip chip) {
    Identity id;
    id.subsystem = static_cast<uint32_t>(chipDeviceId(chip)) << 16 | kPlxVendor;
    id.revision = chip == Chip::Pci9056 ? 0xBA : 0x01;
    id.classCode = 0x068000;  // bridge device, other
    return id;
}

unsigned subsystemValueIndex(Chip chip) {
    return chip == Chip::Pci9056 ? 17 : 3;
}

static unsigned classValueIndex(Chip chip) {
    return chip == Chip::Pci9056 ? 1 : 2;
}

uint32_t eepromValue(const uint8_t* eeprom, size_t size, unsigned index) {
    size_t at = 4u * index;
    if (at + 4 > size) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(eeprom[at]) << 24 | static_cast<uint32_t>(eeprom[at + 1]) << 16 |
           static_cast<uint32_t>(eeprom[at + 2]) << 8 | eeprom[at + 3];
}

Identity identityFromEeprom(Chip chip, const uint8_t* eeprom, size_t size) {
    Identity id = chipIdentity(chip);
    if (size < 4 || (eeprom[0] == 0xFF && eeprom[1] == 0xFF)) return id;
    id.subsystem = eepromValue(eeprom, size, subsystemValueIndex(chip));
    uint32_t classRev = eepromValue(eeprom, size, classValueIndex(chip));
    id.revision = static_cast<uint8_t>(classRev);
    id.classCode = classRev >> 8;
    return id;
}

std::vector<uint8_t> configImage(const ModelInfo& model, bool old) {
    std::vector<uint8_t> image;
    if (model.chip == Chip::Pci9056) {
        image.assign(k9056Preset, k9056Preset + sizeof k9056Preset);
        image[k9056SubsystemAt] = static_cast<uint8_t>(model.subsystemId);
        image[k9056SubsystemAt + 1] = static_cast<uint8_t>(model.subsystemId >> 8);
        if (old) image[47] = 0x40;  // slower local-bus timing of earlier boards
        return image;
    }
    image.assign(k9030Preset, k9030Preset + sizeof k9030Preset);
    if (model.chip == Chip::Pci9050) image[2] = 0x50;
    image[k9030SubsystemAt] = static_cast<uint8_t>(model.subsystemId);
    image[k9030SubsystemAt + 1] = static_cast<uint8_t>(model.subsystemId >> 8);
    memcpy(&image[k9030TailAt], kTails[model.tail], 4);
    if (old) image[25] = image[27] = 0x4A;  // other local-space wait states
    return image;
}

std::vector<uint8_t> eepromFromImage(const std::vector<uint8_t>& image) {
    std::vector<uint8_t> eeprom(kEepromBytes, 0xFF);
    for (size_t i = 0; i + 4 <= image.size() && i + 4 <= eeprom.size(); i += 4) {
        eeprom[i] = image[i + 3];
        eeprom[i + 1] = image[i + 2];
        eeprom[i + 2] = image[i + 1];
        eeprom[i + 3] = image[i];
    }
    return eeprom;
}

std::vector<uint8_t> pcieEepromContent(bool old) {
    std::vector<uint8_t> bytes(kPcieEeprom, kPcieEeprom + sizeof kPcieEeprom);
    if (old) bytes[12] = 0x01;  // an earlier port set-up
    return bytes;
}

}  // namespace sim
