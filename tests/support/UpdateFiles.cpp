#include "UpdateFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sim/devices/FpgaBlock.h"
#include "sim/devices/Microcontroller.h"
#include "tcf/Tcf.h"

namespace testsupport {

UpdateFile::UpdateFile(const Bytes& bytes) {
    char pattern[] = "/tmp/vjx-test-XXXXXX";
    if (!::mkdtemp(pattern)) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    m_dir = pattern;
    m_path = m_dir + "/update.tcf";
    std::ofstream(m_path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

UpdateFile::~UpdateFile() {
    std::error_code ignored;
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ignored);
}

Bytes Build(const tcf::FileContent& content) {
    Bytes file;
    std::string error;
    if (!tcf::BuildFile(content, &file, &error)) ADD_FAILURE() << "BuildFile: " << error;
    return file;
}

Bytes FpgaImage(uint8_t version, size_t size) {
    std::vector<uint8_t> image = sim::fpga_image::make(version, size);
    return Bytes(image.begin(), image.end());
}

std::vector<tcf::SegmentData> Firmware(const std::string& version, uint8_t isp, size_t size) {
    sim::firmware_image::Version v;
    if (!sim::firmware_image::versionFromText(version, isp, &v)) ADD_FAILURE() << "bad version " << version;
    std::vector<uint8_t> image = sim::firmware_image::make(v, size);
    // CutFirmware takes the whole 64 KiB address space.
    Bytes flash(0x10000, 0xFF);
    std::copy(image.begin(), image.end(), flash.begin());
    std::vector<tcf::SegmentData> segments;
    std::string error;
    if (!tcf::CutFirmware(flash, &segments, &error)) ADD_FAILURE() << "CutFirmware: " << error;
    return segments;
}

uint32_t Crc32(const Bytes& data) {
    uint32_t reg = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        reg ^= c;
        for (int i = 0; i < 8; ++i) reg = (reg >> 1) ^ ((reg & 1u) ? 0xEDB88320u : 0u);
    }
    return reg;
}

Bytes WithCrc(const Bytes& image) {
    Bytes out = image;
    uint32_t crc = Crc32(image);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(crc >> (8 * i)));
    return out;
}

}  // namespace testsupport
