// The flash update file: working record, presets and the small hex reader.
#pragma once

#include <cstdint>

#include "../app/LogWindow.h"
#include "../platform/platform.h"

// Working record of an update: header, one block of segment data, segment
// header, back to back (the block check runs over the block and the first
// byte of the segment header).
struct TTcfSmall {
    unsigned char header[256];
    unsigned char block[16368];
    unsigned char segHeader[16];
};
static_assert(sizeof(TTcfSmall) == 16640, "TTcfSmall must be one contiguous 16640-byte block");

namespace tcf {

constexpr unsigned kHeaderSize = 256;
constexpr unsigned kBlockSize = 16368;  // data bytes of one flash-ROM block
constexpr unsigned kSegHeaderSize = 16;
constexpr unsigned kMaxConfigEepromImage = 140;
constexpr unsigned kMaxPcieEepromImage = 48;
// The PEX 8111's EEPROM takes one page in one write command; a longer image
// would wrap round in the page and overwrite its own start.
constexpr unsigned kPcieEepromPage = 32;
// Refusal of an image larger than its EEPROM takes: size, then the limit.
constexpr const char* kEepromTooLarge =
    "EEPROM image in flash update file is too large (%u bytes, at most %u)";
constexpr const char* kPcieEepromTooLarge =
    "PCIe EEPROM image in flash update file is too large (%u bytes, at most %u)";
// The microcontroller's flash ROM: 16 KiB blocks, each ending in the
// 16-byte trailer of the segment written into it.
constexpr unsigned kFlashRomSize = 0x10000;

// Header field offsets (little-endian u32 unless noted).
constexpr unsigned kOffModule = 24;  // one byte
constexpr unsigned kOffFpgaOffset = 32;
constexpr unsigned kOffFpgaSize = 36;
constexpr unsigned kOffEepromOffset = 40;
constexpr unsigned kOffEepromSize = 44;
constexpr unsigned kOffPcieOffset = 48;
constexpr unsigned kOffPcieSize = 52;
constexpr unsigned kOffHeaderCrc = 255;

// Segment header fields.
constexpr unsigned kSegOffBlockCrc = 0;
constexpr unsigned kSegOffAddress = 2;  // big-endian u16
constexpr unsigned kSegOffLength = 4;   // big-endian u16
constexpr unsigned kSegOffNumber = 6;
constexpr unsigned kSegOffContinue = 8;  // big-endian u16, non-zero: more follow
constexpr unsigned kSegOffCrc = 15;

uint32_t getLE32(const unsigned char* p);
void putLE32(unsigned char* p, uint32_t v);
uint16_t getBE16(const unsigned char* p);
void putBE16(unsigned char* p, uint16_t v);

struct Preset {
    const unsigned char* data;
    unsigned size;  // bytes
    // Configuration presets: image offset of the register load that gives
    // the card its subsystem key (the model's identity), 0 for none.
    unsigned keyAt;
};
// Walks the segment chain from offset 256 (file must be positioned there),
// checking each segment header and block CRC into `record`, and that every
// block's data and trailer lie inside the flash ROM with no two segments on
// the same bytes; reports the first failure through
// log->MessageBox(text, 0x10, 0) and answers 0, else answers 1 with the
// number of segments in *count. Never reads past the record's areas,
// whatever the file says.
int ValidateSegments(CFile& file, CLogWindow* log, TTcfSmall* record, int* count);

// Built-in images by model number (empty when the model has none).
Preset ConfigEepromPreset(int model);
Preset PcieEepromPreset(int model, const vjx::platform::Program& program = vjx::platform::kThisProgram);

}  // namespace tcf

class CTcf {
public:
    virtual ~CTcf() = default;
    // Reads width (at most 8) characters at position as hexadecimal; -1 when
    // no number could be read.
    int getHex(const char* text, int position, int width);
};
