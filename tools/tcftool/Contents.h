// Taking an accepted update file apart: its images, its firmware as the
// segments lay it out, and the digests a user compares with a card.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tcf/IntelHex.h"

namespace tcftool {

struct FileContents {
    int module = 0;
    std::vector<unsigned char> fpga;  // empty: the file carries none
    std::vector<unsigned char> eeprom;
    std::vector<unsigned char> pcieEeprom;
    bool hasFirmware = false;               // the update programs the flash ROM
    std::vector<unsigned char> firmware;    // 64 KiB, segment data over 0xFF
    std::vector<tcf::AddressRange> ranges;  // each segment's data, in file order
    std::vector<unsigned char> flash;       // 64 KiB the flash ROM holds afterwards
    std::string overlap;                    // non-empty: segments share flash addresses (which ones)
};

// Reads the images and the segment chain of a file the flash command accepts
// (run Inspect first). Refuses segments that reach past the flash ROM.
bool ReadContents(const std::string& path, FileContents* contents, std::string* error);

// The digest `vjxsim show` gives for a part: the common CRC-32 (IEEE 802.3,
// final inversion), as eight lower-case hexadecimal digits.
std::string Digest(const std::vector<unsigned char>& bytes);

// "auto", "ihex" or "bin".
bool ParseFirmwareFormat(const std::string& text, tcf::FirmwareFormat* format);

bool ReadWholeFile(const std::string& path, std::string* bytes);

}  // namespace tcftool
