// What `vjxsim show` tells about a card: its PCI identity as the host sees
// it, its model, bridge, runtime state and the digests of its parts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Card.h"

namespace sim {

struct CardReport {
    unsigned number = 0;
    std::string spec;  // "84,fw=9.14"
    std::string chip;  // "PCI 9056"
    uint16_t deviceId = 0;
    uint8_t revision = 0;
    uint32_t classCode = 0;
    uint32_t subsystem = 0;
    int model = -1;         // module code the subsystem key names, -1 for none
    std::string modelName;  // its name, or how the host names an unknown key
    PciAddress address;
    bool bridge = false;
    PciAddress bridgeAddress;
    bool bridgeSlow = false;
    bool bridgeEepromLoaded = false;  // the PEX 8111 took its EEPROM at the last power-up
    unsigned bridgeRegisterLoads = 0;
    std::string bridgeEeprom;  // what that load did, in words
    std::vector<std::string> options;
    std::string firmwareVersion;
    std::string mcuMode;  // "off", "application", "boot-loader"
    uint8_t fpgaVersion = 0xFF;
    bool fpgaConfigured = false;
    uint8_t bsb = 0xFF, bljb = 0xFF;
    // PCIe-core cards: "up", "loading" (the FPGA loads; the function does
    // not answer), "unassigned" (back after a reload, waiting for the
    // system's re-enumeration) or "absent" (no configuration runs); empty
    // for the other cards.
    std::string pcieLink;
    std::string configDevice;  // "EPCS4", ..., or "serial flash"
    uint32_t epcsId = 0;  // EPCS silicon ID, or the serial flash's JEDEC ID (manufacturer << 16 | device)
    size_t epcsSize = 0;
    bool epcsImage = false;  // a valid FPGA image is at the start of the device
    size_t epcsImageSize = 0;
    uint32_t epcsCrc = 0;         // the 4 bytes behind the image, little-endian
    bool epcsCrcValid = false;    // they equal the CRC-32 of the image
    int configImageVersion = -1;  // the version that image would load with, -1 for none
    // CRC-32 (zlib) of what `vjxsim dump` writes for each part.
    std::vector<std::pair<std::string, uint32_t>> digests;
};

CardReport reportCard(Card& card, uint64_t nowUs);
// The bytes `vjxsim dump` writes for a part (eeprom, pcie-eeprom, epcs,
// flash, mcu-flash, mcu-boot); false when the card has no such part. A
// PCIe-core card has a flash (its serial configuration flash) instead of an
// EPCS and no EEPROM.
bool dumpPart(Card& card, const std::string& part, std::vector<uint8_t>* out);

std::string reportJson(const std::vector<CardReport>& cards);
std::string reportText(const CardReport& card);

}  // namespace sim
