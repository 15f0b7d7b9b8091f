#include "EngineSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "sim/Clock.h"
#include "sim/devices/FpgaBlock.h"
#include "sim/devices/Microcontroller.h"
#include "tcf/Tcf.h"

namespace enginetest {

UpdateFile::UpdateFile(const Bytes& bytes) {
    char pattern[] = "/tmp/vjx-engines-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    m_dir = dir;
    m_path = m_dir + "/update.tcf";
    std::ofstream out(m_path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

UpdateFile::~UpdateFile() {
    if (m_dir.empty()) return;
    ::unlink(m_path.c_str());
    ::rmdir(m_dir.c_str());
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

void OpenCard(CVjxPci& pci, unsigned index) {
    ASSERT_GT(pci.Count(), index) << pci.getErrorString();
    ASSERT_EQ(pci.Open(index), 1) << pci.getErrorString();
}

int LoadHeader(CVjxPci& pci, const UpdateFile& file, CLogWindow& log) {
    CFile f;
    if (!f.Open(file.path().c_str(), CFile::modeRead | CFile::typeBinary)) return 0;
    TTcfSmall record;
    int ok = pci.ReadFileHeader(f, &log, &record);
    f.Close();
    return ok;
}

int RunUpdate(CVjxPci& pci, const UpdateFile& file, CLogWindow& log, const char* cardName) {
    CFile f;
    if (!f.Open(file.path().c_str(), CFile::modeRead | CFile::typeBinary)) return 0;
    int ok = pci.doFlash(f, log, cardName);
    f.Close();
    return ok;
}

std::vector<Access> Accesses(testsupport::SimRack& rack) {
    std::vector<Access> out;
    for (const std::string& line : rack.traceLines()) {
        std::istringstream in(line);
        std::string seq, offset, width, value;
        Access a;
        in >> seq >> a.timeUs >> a.function >> a.op >> a.space >> offset >> width >> value;
        a.offset = static_cast<uint32_t>(std::stoul(offset, nullptr, 16));
        a.value = static_cast<uint32_t>(std::stoul(value, nullptr, 16));
        out.push_back(a);
    }
    return out;
}

uint64_t NowUs() {
    return sim::virtualClock().nowUs();
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

}  // namespace enginetest
