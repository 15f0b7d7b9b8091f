// tcftool build: an update file from an FPGA image, firmware and EEPROM
// images, checked afterwards with the flash command's own reader.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "Commands.h"
#include "Inspect.h"
#include "app/CardNames.h"
#include "app/platform.h"
#include "tcf/IntelHex.h"
#include "tcf/TcfWriter.h"

namespace tcftool {
namespace {

int Fail(const std::string& text) {
    std::fprintf(stderr, "tcftool: %s\n", text.c_str());
    return 1;
}

// Through the flash command's own file class: a regular file only, so that
// a FIFO or a device given as input is refused at once instead of blocking.
bool ReadWhole(const std::string& path, std::string* bytes) {
    CFile file;
    CFileStatus status;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary) ||
        !CFile::GetStatus(path.c_str(), status) || status.m_size < 0 || status.m_size > UINT32_MAX)
        return false;
    const unsigned size = static_cast<unsigned>(status.m_size);
    bytes->assign(size, '\0');
    return size == 0 || file.Read(&(*bytes)[0], size) == size;
}

// An image given by name: must exist and must not be empty (an empty image
// would read as "no image" in the header).
bool LoadImage(const std::string& what, const std::string& path, std::vector<unsigned char>* image,
               std::string* error) {
    std::string bytes;
    if (!ReadWhole(path, &bytes)) {
        *error = "can't read " + what + " \"" + path + "\"";
        return false;
    }
    if (bytes.empty()) {
        *error = what + " \"" + path + "\" is empty";
        return false;
    }
    image->assign(bytes.begin(), bytes.end());
    return true;
}

bool ParseModule(const std::string& text, int* module) {
    if (text.empty()) return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, hex ? 16 : 10);
    if (end == text.c_str() || *end != '\0' || value < 0 || value > 255) return false;
    *module = static_cast<int>(value);
    return true;
}

}  // namespace

int RunBuild(const BuildOptions& o) {
    tcf::FileContent content;
    std::string error;
    if (!ParseModule(o.module, &content.module))
        return Fail("module code \"" + o.module + "\" is not a number");

    if (!o.fpga.empty() && !LoadImage("FPGA image", o.fpga, &content.fpga, &error)) return Fail(error);
    if (!o.eeprom.empty() && !LoadImage("EEPROM image", o.eeprom, &content.eeprom, &error))
        return Fail(error);
    if (!o.pcieEeprom.empty() && !LoadImage("PCIe EEPROM image", o.pcieEeprom, &content.pcieEeprom, &error))
        return Fail(error);
    if (!o.firmware.empty()) {
        std::string bytes;
        if (!ReadWhole(o.firmware, &bytes)) return Fail("can't read firmware \"" + o.firmware + "\"");
        std::vector<unsigned char> image;
        const bool ok = tcf::LooksLikeIntelHex(bytes) ? tcf::ParseIntelHex(bytes, &image, &error)
                                                      : tcf::LoadRawFirmware(bytes, &image, &error);
        if (!ok) return Fail(o.firmware + ": " + error);
        if (!tcf::CutFirmware(image, &content.segments, &error)) return Fail(o.firmware + ": " + error);
        if (content.segments.empty()) return Fail("firmware \"" + o.firmware + "\" holds no data");
    }
    if (!tcf::CheckContent(content, &error)) return Fail(error);

    std::vector<unsigned char> file;
    if (!tcf::BuildFile(content, &file, &error)) return Fail(error);
    {
        std::ofstream out(o.output, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        out.close();
        if (!out) return Fail("can't write \"" + o.output + "\"");
    }

    // Read back: the bytes on disk, then the flash command's verdict.
    std::string back;
    if (!ReadWhole(o.output, &back) || back.size() != file.size() ||
        !std::equal(file.begin(), file.end(), back.begin(),
                    [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); })) {
        std::remove(o.output.c_str());
        return Fail("\"" + o.output + "\" does not read back as written");
    }
    const FileReport report = Inspect(o.output);
    if (!report.accepted) {
        std::remove(o.output.c_str());
        return Fail("vjxflash would refuse this file: " + report.reason);
    }

    std::printf("Wrote %s: %zu bytes for module %d (%s), %zu segment(s)\n", o.output.c_str(), file.size(),
                content.module, GetCardName(content.module), content.segments.size());
    return 0;
}

}  // namespace tcftool
