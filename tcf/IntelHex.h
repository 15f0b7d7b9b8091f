// Firmware images for the microcontroller's flash ROM, as Intel HEX text or
// raw binary, laid out as the 64 KiB the 16-bit block addresses reach.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tcf {

constexpr unsigned kFirmwareSpace = 0x10000;  // reach of a 16-bit block address

enum class FirmwareFormat { kAuto, kIntelHex, kBinary };

// A run of addresses the input gave data for, both ends included.
struct AddressRange {
    unsigned first = 0;
    unsigned last = 0;
};

// A firmware file read into the 64 KiB the flash ROM blocks reach.
struct FirmwareImage {
    FirmwareFormat format = FirmwareFormat::kBinary;  // what the file was read as
    std::vector<unsigned char> image;                 // 64 KiB, 0xFF where nothing was given
    std::vector<AddressRange> ranges;                 // addresses the file gave, in order
    unsigned records = 0;                             // Intel HEX records read (end-of-file included)
    std::vector<std::string> warnings;                // legal, but probably not what was meant
};

// Reads firmware. kAuto: a file whose first non-blank byte is ':' (a UTF-8
// byte-order mark counts as blank here) is Intel HEX; a file that is
// recognisably something else (ELF, S-records, TI-TXT, other text, an update
// file) is refused with what it looks like; anything else is raw binary from
// address 0. Intel HEX faults are refused with the line number.
// Warnings: explicit 0xFF where a block's segment header goes, and no data
// at address 0 (the reset vector).
bool LoadFirmware(const std::string& bytes, FirmwareFormat format, FirmwareImage* out, std::string* error);

// Fills `image` (resized to 64 KiB of 0xFF first) from Intel HEX text:
// data, end-of-file, extended segment and extended linear address records;
// start-address records are accepted and ignored. Every record's checksum is
// checked; a byte given twice with different values is refused. Lines may
// end in CR LF and carry blanks around the record; one Ctrl-Z (0x1A) may end
// the file. Answers false with a line-numbered reason in `error` on any
// fault, including data beyond 64 KiB, anything after the end-of-file record
// and a missing end-of-file record.
bool ParseIntelHex(const std::string& text, std::vector<unsigned char>* image, std::string* error);

// Fills `image` (64 KiB of 0xFF) with raw bytes from address 0. More than
// 64 KiB is refused.
bool LoadRawFirmware(const std::string& bytes, std::vector<unsigned char>* image, std::string* error);

// True when the file's first non-blank byte is ':' (the auto-detection's
// rule for Intel HEX).
bool LooksLikeIntelHex(const std::string& bytes);

// Writes the given ranges of a 64 KiB image as Intel HEX: data records of 16
// bytes, upper-case, LF line ends, an end-of-file record.
std::string WriteIntelHex(const std::vector<unsigned char>& image, const std::vector<AddressRange>& ranges);

// "0x0000-0x00DE, 0x4000-0x40FF"
std::string RangesText(const std::vector<AddressRange>& ranges);

}  // namespace tcf
