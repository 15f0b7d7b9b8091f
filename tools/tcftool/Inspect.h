// Looking into an update file without a card: what it carries, and whether
// each program of ours would accept it, with the flash command's own checks
// under each program's rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tcf/Segment.h"

namespace tcftool {

struct ImageReport {
    bool present = false;  // the header gives a size
    bool preset = false;   // size 0: the model's built-in image stands in
    uint32_t offset = 0;
    uint32_t size = 0;  // from the header, or the preset's size
};

// One program's answer to the file.
struct ProgramVerdict {
    std::string program;  // "vjxflash", "VJXFlash"
    bool accepted = false;
    std::string reason;  // the program's own text when refused
};

struct FileReport {
    std::string path;
    int64_t fileSize = -1;    // -1: the file could not be opened
    bool headerRead = false;  // 256 header bytes were there
    std::string magic;        // the first four bytes, as text
    int module = -1;
    int model = -1;  // -1: no model takes this code
    std::string modelName;
    unsigned headerCrc = 0;  // byte 255
    uint32_t fpgaOffset = 0;
    uint32_t fpgaSize = 0;
    bool fpgaCrcKnown = false;
    uint32_t fpgaCrc32 = 0;  // CRC-32 the update sequence appends
    ImageReport eeprom;
    ImageReport pcieEeprom;
    std::vector<tcf::SegmentInfo> segments;  // as far as the walk came
    std::vector<ProgramVerdict> programs;    // each program of ours, in turn
    bool accepted = false;                   // some program would take the file
    std::string reason;                      // when none would: the refusal that matters
};

FileReport Inspect(const std::string& path);

}  // namespace tcftool
