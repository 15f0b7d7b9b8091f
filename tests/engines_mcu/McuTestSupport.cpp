#include "McuTestSupport.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "sim/Clock.h"
#include "sim/devices/FpgaBlock.h"
#include "sim/devices/Microcontroller.h"

namespace mcutest {

uint64_t nowUs() {
    return sim::virtualClock().nowUs();
}

OneCard::OneCard(const std::string& spec, const std::string& timing) : rack({spec}, timing) {
    if (pci.Count() < 1 || pci.Open(0) != 1) ADD_FAILURE() << "card " << spec << " did not open";
    rack.clearTrace();
}

OneCard::~OneCard() {
    pci.Close();
}

std::vector<Access> OneCard::accesses() {
    std::vector<Access> out;
    for (const std::string& line : rack.traceLines()) {
        std::istringstream in(line);
        std::string seq, time, function, op, space, offset, width, value;
        in >> seq >> time >> function >> op >> space >> offset >> width >> value;
        if ((op != "r" && op != "w") || space != "2") continue;
        out.push_back({op[0], static_cast<uint32_t>(std::stoul(offset, nullptr, 16)),
                       static_cast<uint32_t>(std::stoul(value, nullptr, 16))});
    }
    return out;
}

std::vector<uint32_t> OneCard::writes(uint32_t reg) {
    std::vector<uint32_t> out;
    for (const Access& a : accesses())
        if (a.op == 'w' && a.offset == reg) out.push_back(a.value);
    return out;
}

std::string OneCard::sent() {
    std::string out;
    unsigned char window[256] = {};
    unsigned address = 0;
    unsigned count = 0;
    for (const Access& a : accesses()) {
        if (a.op != 'w') continue;
        if (a.offset == kRama) address = a.value & 0xFF;
        if (a.offset == kRamd) window[address] = static_cast<unsigned char>(a.value);
        if (a.offset == kTbuf) count = a.value & 0xFF;
        if (a.offset == kTstart)
            for (unsigned i = 1; i <= count; ++i) out += static_cast<char>(window[i]);
    }
    return out;
}

std::vector<unsigned char> OneCard::flash() {
    const sim::NvRegion& region = card().mcuFlashBytes();
    return std::vector<unsigned char>(region.data(), region.data() + region.size());
}

void OneCard::enterBootLoader() {
    ASSERT_EQ(pci.doIspReset(1), 1);
    ASSERT_EQ(pci.doIspDetect(), 1);
    rack.clearTrace();
}

std::vector<unsigned char> UpdateBytes(int module, uint8_t fpgaVersion, const std::string& firmware,
                                       uint8_t isp, size_t firmwareBytes,
                                       std::vector<tcf::SegmentData>* segments) {
    tcf::FileContent content;
    content.module = module;
    const std::vector<uint8_t> fpga = sim::fpga_image::make(fpgaVersion, 4096);
    content.fpga.assign(fpga.begin(), fpga.end());

    sim::firmware_image::Version v;
    if (!sim::firmware_image::versionFromText(firmware, isp, &v)) ADD_FAILURE() << "bad version " << firmware;
    const std::vector<uint8_t> image = sim::firmware_image::make(v, firmwareBytes);
    std::vector<unsigned char> flash(0x10000, 0xFF);
    std::copy(image.begin(), image.end(), flash.begin());
    std::string error;
    if (!tcf::CutFirmware(flash, &content.segments, &error)) ADD_FAILURE() << "CutFirmware: " << error;
    if (segments) *segments = content.segments;

    std::vector<unsigned char> file;
    if (!tcf::BuildFile(content, &file, &error)) ADD_FAILURE() << "BuildFile: " << error;
    return file;
}

int RunUpdate(CVjxPci& pci, const std::vector<unsigned char>& bytes, CLogWindow& log, const char* cardName) {
    char pattern[] = "/tmp/vjx-mcu-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) {
        ADD_FAILURE() << "mkdtemp failed";
        return 0;
    }
    const std::string path = std::string(dir) + "/update.tcf";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    int ok = 0;
    {
        CFile file;
        if (file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary)) {
            ok = pci.doFlash(file, log, cardName);
            file.Close();
        } else {
            ADD_FAILURE() << "cannot open " << path;
        }
    }
    ::unlink(path.c_str());
    ::rmdir(dir);
    return ok;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

std::vector<std::string> records(const std::string& sent) {
    std::vector<std::string> out;
    for (size_t at = sent.find(':'); at != std::string::npos;) {
        const size_t end = sent.find_first_of(":U", at + 1);
        out.push_back(sent.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? end : sent.find(':', end);
    }
    return out;
}

}  // namespace mcutest
