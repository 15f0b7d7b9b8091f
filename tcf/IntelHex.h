// Firmware images for the microcontroller's flash ROM, as Intel HEX text or
// raw binary, laid out as the 64 KiB the 16-bit block addresses reach.
#pragma once

#include <string>
#include <vector>

namespace tcf {

constexpr unsigned kFirmwareSpace = 0x10000;  // reach of a 16-bit block address

// Fills `image` (resized to 64 KiB of 0xFF first) from Intel HEX text:
// data, end-of-file, extended segment and extended linear address records;
// start-address records are accepted and ignored. Every record's checksum is
// checked. Answers false with a reason in `error` on any fault, including
// data beyond 64 KiB and a missing end-of-file record.
bool ParseIntelHex(const std::string& text, std::vector<unsigned char>* image, std::string* error);

// Fills `image` (64 KiB of 0xFF) with raw bytes from address 0. More than
// 64 KiB is refused.
bool LoadRawFirmware(const std::string& bytes, std::vector<unsigned char>* image, std::string* error);

// True when the bytes look like Intel HEX text (a ':' first, then only hex
// digits, colons and line breaks).
bool LooksLikeIntelHex(const std::string& bytes);

}  // namespace tcf
