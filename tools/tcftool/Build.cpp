// tcftool build: an update file from an FPGA image, firmware and EEPROM
// images, checked afterwards with the flash command's own reader; written
// when a program of ours would accept it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "Contents.h"
#include "Inspect.h"
#include "Output.h"
#include "card/ModelTable.h"
#include "tcf/IntelHex.h"
#include "tcf/TcfWriter.h"

namespace tcftool {
namespace {

// The model name of a module code in the program that knows the most codes.
const char* ModelName(int module) {
    return vjx::models::FileModelName(module, vjx::platform::kWindowsProgram);
}

int Fail(const std::string& text) {
    std::fprintf(stderr, "tcftool: %s\n", text.c_str());
    return 1;
}

// An image given by name: must exist and must not be empty (an empty image
// would read as "no image" in the header).
bool LoadImage(const std::string& what, const std::string& path, std::vector<unsigned char>* image,
               std::string* error) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes)) {
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

const char* FormatName(tcf::FirmwareFormat format) {
    return format == tcf::FirmwareFormat::kIntelHex ? "Intel HEX" : "raw binary";
}

// What was read, for the report.
struct Inputs {
    tcf::FirmwareImage firmware;
    std::vector<std::string> warnings;  // with the file name in front
};

void PrintText(const BuildOptions& o, const tcf::FileContent& content, const Inputs& in, size_t fileSize) {
    if (!o.firmware.empty()) {
        std::printf("Firmware:      %s: %s", o.firmware.c_str(), FormatName(in.firmware.format));
        if (in.firmware.format == tcf::FirmwareFormat::kIntelHex)
            std::printf(", %u records", in.firmware.records);
        std::printf(", data at %s\n", tcf::RangesText(in.firmware.ranges).c_str());
        for (const tcf::SegmentData& s : content.segments)
            std::printf("  segment: block 0x%04X, data 0x%04X-0x%04zX\n", s.address, s.address,
                        s.address + s.data.size() - 1);
    }
    auto image = [](const char* label, const std::string& path, size_t size) {
        if (path.empty())
            std::printf("%s none\n", label);
        else
            std::printf("%s %s: %zu bytes\n", label, path.c_str(), size);
    };
    image("FPGA image:   ", o.fpga, content.fpga.size());
    if (o.eeprom.empty())
        std::printf("EEPROM image:  the model's preset\n");
    else
        image("EEPROM image: ", o.eeprom, content.eeprom.size());
    if (o.pcieEeprom.empty())
        std::printf("PCIe EEPROM:   the model's preset\n");
    else
        image("PCIe EEPROM:  ", o.pcieEeprom, content.pcieEeprom.size());
    std::printf("Wrote %s: %zu bytes for module %d (%s), %zu segment(s)\n", o.output.c_str(), fileSize,
                content.module, ModelName(content.module), content.segments.size());
}

void PrintJson(const BuildOptions& o, const tcf::FileContent& content, const Inputs& in, size_t fileSize) {
    nlohmann::json j;
    j["output"] = o.output;
    j["size"] = fileSize;
    j["module"] = content.module;
    j["modelName"] = ModelName(content.module);
    if (!o.firmware.empty()) {
        nlohmann::json fw;
        fw["file"] = o.firmware;
        fw["format"] = in.firmware.format == tcf::FirmwareFormat::kIntelHex ? "ihex" : "bin";
        if (in.firmware.format == tcf::FirmwareFormat::kIntelHex) fw["records"] = in.firmware.records;
        nlohmann::json ranges = nlohmann::json::array();
        for (const tcf::AddressRange& r : in.firmware.ranges)
            ranges.push_back({{"first", r.first}, {"last", r.last}});
        fw["ranges"] = ranges;
        nlohmann::json segments = nlohmann::json::array();
        for (const tcf::SegmentData& s : content.segments)
            segments.push_back({{"address", s.address}, {"length", s.data.size()}});
        fw["segments"] = segments;
        j["firmware"] = fw;
    } else {
        j["firmware"] = nullptr;
    }
    auto image = [](const std::string& path, size_t size) {
        return path.empty() ? nlohmann::json() : nlohmann::json{{"file", path}, {"size", size}};
    };
    j["fpga"] = image(o.fpga, content.fpga.size());
    j["eeprom"] = image(o.eeprom, content.eeprom.size());
    j["pcieEeprom"] = image(o.pcieEeprom, content.pcieEeprom.size());
    j["warnings"] = in.warnings;
    std::cout << j.dump(2) << "\n";
}

}  // namespace

int RunBuild(const BuildOptions& o) {
    tcf::FileContent content;
    std::string error;
    if (!ParseModule(o.module, &content.module))
        return Fail("module code \"" + o.module + "\" is not a number");
    tcf::FirmwareFormat format;
    if (!ParseFirmwareFormat(o.firmwareFormat, &format))
        return Fail("firmware format \"" + o.firmwareFormat + "\" is not ihex, bin or auto");
    for (const std::string* input : {&o.fpga, &o.firmware, &o.eeprom, &o.pcieEeprom}) {
        if (!input->empty() && SameFile(*input, o.output))
            return Fail("the output \"" + o.output + "\" is one of the inputs");
    }

    if (!o.fpga.empty() && !LoadImage("FPGA image", o.fpga, &content.fpga, &error)) return Fail(error);
    if (!o.eeprom.empty() && !LoadImage("EEPROM image", o.eeprom, &content.eeprom, &error))
        return Fail(error);
    if (!o.pcieEeprom.empty() && !LoadImage("PCIe EEPROM image", o.pcieEeprom, &content.pcieEeprom, &error))
        return Fail(error);
    Inputs in;
    if (!o.firmware.empty()) {
        std::string bytes;
        if (!ReadWholeFile(o.firmware, &bytes)) return Fail("can't read firmware \"" + o.firmware + "\"");
        if (!tcf::LoadFirmware(bytes, format, &in.firmware, &error)) return Fail(o.firmware + ": " + error);
        for (const std::string& w : in.firmware.warnings) in.warnings.push_back(o.firmware + ": " + w);
        if (!tcf::CutFirmware(in.firmware.image, &content.segments, &error))
            return Fail(o.firmware + ": " + error);
        if (content.segments.empty()) return Fail("firmware \"" + o.firmware + "\" holds no data");
    }
    if (!tcf::CheckContent(content, &error)) return Fail(error);
    for (const std::string& w : in.warnings) std::fprintf(stderr, "tcftool: warning: %s\n", w.c_str());
    if (o.strict && !in.warnings.empty()) return Fail("not written: --strict refuses files with warnings");

    std::vector<unsigned char> file;
    if (!tcf::BuildFile(content, &file, &error)) return Fail(error);

    // Before the rename: the bytes on disk, then the flash command's verdict.
    const OutputCheck check = [&file](const std::string& temp, std::string* why) {
        std::string back;
        if (!ReadWholeFile(temp, &back) || back.size() != file.size() ||
            !std::equal(file.begin(), file.end(), back.begin(),
                        [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); })) {
            *why = "the file does not read back as written";
            return false;
        }
        const FileReport report = Inspect(temp);
        if (!report.accepted) {
            *why = "no program of ours would accept this file: " + report.reason;
            return false;
        }
        return true;
    };
    if (!WriteOutput(o.output, file, check, &error)) return Fail(error);

    if (o.json)
        PrintJson(o, content, in, file.size());
    else
        PrintText(o, content, in, file.size());
    return 0;
}

}  // namespace tcftool
