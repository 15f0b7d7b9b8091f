// Update files for the tests: built from their content by the update-file
// writer, with FPGA images and firmware the simulated card accepts, and
// written to a temporary directory for the program to open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tcf/TcfWriter.h"

namespace testsupport {

using Bytes = std::vector<unsigned char>;

// An update file on disk, removed with its directory at the end.
class UpdateFile {
public:
    explicit UpdateFile(const Bytes& bytes);
    ~UpdateFile();
    UpdateFile(const UpdateFile&) = delete;
    UpdateFile& operator=(const UpdateFile&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_dir;
    std::string m_path;
};

// Builds an update file; fails the test when the writer refuses.
Bytes Build(const tcf::FileContent& content);
// A valid FPGA image of the simulated FPGA whose VERSION reads `version`.
Bytes FpgaImage(uint8_t version, size_t size);
// Firmware of one or more 16 KiB blocks, cut into segments.
std::vector<tcf::SegmentData> Firmware(const std::string& version, uint8_t isp, size_t size);
// CRC-32 as the update sequence appends it (reflected, no final inversion).
uint32_t Crc32(const Bytes& data);
// The image with its CRC-32 behind it, little-endian.
Bytes WithCrc(const Bytes& image);

}  // namespace testsupport
