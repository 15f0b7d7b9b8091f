// The VJX card models the simulator can build, the PLX chips they carry, and
// the contents their configuration EEPROMs and PCIe-bridge EEPROMs hold when
// they leave the factory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

enum class Chip : uint8_t { Pci9050, Pci9030, Pci9056 };

constexpr uint16_t kPlxVendor = 0x10B5;
constexpr uint16_t kPex8111Device = 0x8111;

uint16_t chipDeviceId(Chip chip);
const char* chipName(Chip chip);  // "PCI 9030"
// "9050"/"9030"/"9056" -> chip; false for anything else.
bool chipFromText(const char* text, Chip* out);

struct ModelInfo {
    int code;          // module code, 80..99
    const char* name;  // "VJX PCIe K"
    Chip chip;
    uint16_t subsystemId;
    int tail;  // PCI 9030 preset tail: 0 none, 1 "49 92 24 02", 2 "00 00 00 06"
    // The PCIe interface is in the FPGA (models 96..99): a PCI 9056 function
    // of revision 0x80 that the FPGA itself presents, without PEX 8111 and
    // configuration EEPROM; its configuration device is a serial flash.
    bool pcieCore;
};

// The revision a PCIe-core card's function reports.
constexpr uint8_t kPcieCoreRevision = 0x80;

const std::vector<ModelInfo>& models();
const ModelInfo* findModel(int code);
// The model whose subsystem key (subsystem ID << 16 | 0x10B5) this is, among
// the models with a PLX bridge; with a revision, a PCIe-core model when the
// revision is 0x80.
const ModelInfo* modelForKey(uint32_t key);
const ModelInfo* modelForKey(uint32_t key, uint8_t revision);
inline bool isPcie(Chip chip) {
    return chip == Chip::Pci9056;
}

// What a PLX chip loads from its configuration EEPROM at power-up. The
// EEPROM holds a list of 32-bit register values; value i sits in words 2i
// (upper half) and 2i+1 (lower half), each word high byte first.
struct Identity {
    uint32_t subsystem = 0;  // configuration offset 0x2C
    uint8_t revision = 0;    // offset 0x08
    uint32_t classCode = 0;  // offsets 0x09..0x0B
};
Identity chipIdentity(Chip chip);  // the chip's own values (blank or missing EEPROM)
// What the FPGA's PCIe core of a model presents: the model's key, revision
// 0x80, class 0x068000.
Identity coreIdentity(const ModelInfo& model);
// Identity from an EEPROM image of 512 bytes (words high byte first).
// A blank first word means no valid content: the chip keeps its own values.
Identity identityFromEeprom(Chip chip, const uint8_t* eeprom, size_t size);
uint32_t eepromValue(const uint8_t* eeprom, size_t size, unsigned index);
unsigned subsystemValueIndex(Chip chip);  // 3 (PCI 9050, 9030) or 17 (PCI 9056)

constexpr size_t kEepromBytes = 512;
constexpr size_t kPcieEepromBytes = 8192;

// Configuration image (32-bit values, little-endian bytes) of a model;
// `old` gives an earlier factory content with the same subsystem ID and
// other local-bus settings.
std::vector<uint8_t> configImage(const ModelInfo& model, bool old);
// The image in EEPROM word order, padded with 0xFF to the EEPROM's size.
std::vector<uint8_t> eepromFromImage(const std::vector<uint8_t>& image);
// The PEX 8111 EEPROM content of the PCIe models (26 bytes), or an older one.
std::vector<uint8_t> pcieEepromContent(bool old);

}  // namespace sim
