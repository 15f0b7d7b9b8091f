// Writing update files: the producer's side of the format the flash command
// reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tcf {

// One flash-ROM block's content: its address and its data (the block's bytes
// up to the last one that is not 0xFF).
struct SegmentData {
    uint16_t address = 0;
    std::vector<unsigned char> data;
};

// Everything an update file carries. An empty image is left out of the file
// (size 0: the card takes the model's preset for the EEPROMs).
struct FileContent {
    int module = 0;
    std::vector<unsigned char> fpga;
    std::vector<unsigned char> eeprom;
    std::vector<unsigned char> pcieEeprom;
    std::vector<SegmentData> segments;
};

// Flash-ROM blocks are 16 KiB; the last 16 bytes of each hold the segment
// header, written there by the flash-ROM stage.
constexpr unsigned kFlashBlockSize = 0x4000;

// Cuts a 64 KiB firmware image (0xFF = no data) into segments, one per block
// that holds data. Answers false when a block's last 16 bytes hold data.
bool CutFirmware(const std::vector<unsigned char>& image, std::vector<SegmentData>* segments,
                 std::string* error);

// Producer-side checks: what the flash command would refuse or could not use
// (module code, image limits, firmware without FPGA image and the reverse,
// segment lengths).
bool CheckContent(const FileContent& content, std::string* error);

// Lays the file out: header, segment chain from offset 256, then the FPGA,
// configuration-EEPROM and PCIe-EEPROM images. Every CRC is computed.
// Writes exactly what it is given (test files may break the rules
// CheckContent enforces); answers false only for what the layout cannot hold
// (a segment longer than 65535 bytes, a file beyond 4 GiB).
bool BuildFile(const FileContent& content, std::vector<unsigned char>* file, std::string* error);

// CRC-8 of a block's data padded with 0xFF to the block size (the value a
// segment header carries in byte 0). Data longer than a block counts in full.
uint8_t BlockCrc(const unsigned char* data, size_t length);

}  // namespace tcf
