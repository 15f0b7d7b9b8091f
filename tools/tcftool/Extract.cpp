// tcftool extract: the images an accepted update file carries, written back
// out as files (firmware as Intel HEX or raw binary).
#include <strings.h>

#include <cstdio>

#include "Commands.h"
#include "Contents.h"
#include "Inspect.h"
#include "Output.h"

namespace tcftool {
namespace {

int Fail(const std::string& text) {
    std::fprintf(stderr, "tcftool: %s\n", text.c_str());
    return 1;
}

bool EndsWith(const std::string& name, const char* suffix) {
    const size_t n = std::char_traits<char>::length(suffix);
    return name.size() >= n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
}

// auto: by the output's extension.
bool ChooseFormat(const std::string& path, tcf::FirmwareFormat* format) {
    if (*format != tcf::FirmwareFormat::kAuto) return true;
    for (const char* ext : {".hex", ".ihx", ".ihex"})
        if (EndsWith(path, ext)) return *format = tcf::FirmwareFormat::kIntelHex, true;
    if (EndsWith(path, ".bin")) return *format = tcf::FirmwareFormat::kBinary, true;
    return false;
}

struct Output {
    const char* what;
    std::string path;
    std::vector<unsigned char> bytes;
    OutputCheck check;
};

OutputCheck SameBytes(const std::vector<unsigned char>& expected) {
    return [expected](const std::string& temp, std::string* error) {
        std::string back;
        if (!ReadWholeFile(temp, &back) || back != std::string(expected.begin(), expected.end())) {
            *error = "the file does not read back as written";
            return false;
        }
        return true;
    };
}

}  // namespace

int RunExtract(const ExtractOptions& o) {
    if (o.firmware.empty() && o.fpga.empty() && o.eeprom.empty() && o.pcieEeprom.empty())
        return Fail("nothing to extract: name at least one of --firmware, --fpga, --eeprom, --pcie-eeprom");
    tcf::FirmwareFormat format;
    if (!ParseFirmwareFormat(o.firmwareFormat, &format))
        return Fail("firmware format \"" + o.firmwareFormat + "\" is not ihex, bin or auto");
    const std::string* names[] = {&o.firmware, &o.fpga, &o.eeprom, &o.pcieEeprom};
    for (size_t i = 0; i < 4; ++i) {
        if (names[i]->empty()) continue;
        if (SameFile(*names[i], o.input)) return Fail("the output \"" + *names[i] + "\" is the input file");
        for (size_t k = 0; k < i; ++k)
            if (!names[k]->empty() && SameFile(*names[i], *names[k]))
                return Fail("\"" + *names[i] + "\" is named for two outputs");
    }

    const FileReport report = Inspect(o.input);
    if (!report.accepted)
        return Fail(o.input + ": no program of ours would accept this file: " + report.reason);
    FileContents c;
    std::string error;
    if (!ReadContents(o.input, &c, &error)) return Fail(o.input + ": " + error);

    // Everything is gathered and checked before the first file is written.
    std::vector<Output> outputs;
    if (!o.firmware.empty()) {
        if (!c.hasFirmware) return Fail(o.input + " carries no firmware");
        if (!c.overlap.empty()) return Fail(o.input + ": " + c.overlap);
        if (!ChooseFormat(o.firmware, &format))
            return Fail("can't tell the firmware format from \"" + o.firmware +
                        "\": name it .hex or .bin, or give --firmware-format");
        Output out{"firmware", o.firmware, {}, {}};
        if (format == tcf::FirmwareFormat::kIntelHex) {
            const std::string text = tcf::WriteIntelHex(c.firmware, c.ranges);
            out.bytes.assign(text.begin(), text.end());
        } else {
            // From address 0 to the last byte of data, erased gaps as 0xFF.
            unsigned end = 0;
            for (const tcf::AddressRange& r : c.ranges) end = std::max(end, r.last + 1);
            out.bytes.assign(c.firmware.begin(), c.firmware.begin() + end);
        }
        // Read back with the firmware reader of `build`: the same image.
        out.check = [image = c.firmware, format](const std::string& temp, std::string* why) {
            std::string back;
            tcf::FirmwareImage read;
            if (!ReadWholeFile(temp, &back) || !tcf::LoadFirmware(back, format, &read, why)) {
                if (why->empty()) *why = "the file does not read back";
                return false;
            }
            if (read.image != image) {
                *why = "the firmware does not read back as written";
                return false;
            }
            return true;
        };
        outputs.push_back(out);
    }
    struct Image {
        const char* what;
        const std::string& path;
        const std::vector<unsigned char>& bytes;
        const char* none;
    };
    for (const Image& image : {Image{"FPGA image", o.fpga, c.fpga, "carries no FPGA image"},
                               Image{"EEPROM image", o.eeprom, c.eeprom,
                                     "carries no EEPROM image (the card takes the model's preset)"},
                               Image{"PCIe EEPROM image", o.pcieEeprom, c.pcieEeprom,
                                     "carries no PCIe EEPROM image (the card takes the model's preset)"}}) {
        if (image.path.empty()) continue;
        if (image.bytes.empty()) return Fail(o.input + " " + image.none);
        outputs.push_back({image.what, image.path, image.bytes, SameBytes(image.bytes)});
    }

    for (const Output& out : outputs) {
        if (!WriteOutput(out.path, out.bytes, out.check, &error)) return Fail(out.path + ": " + error);
        std::printf("Wrote %s: %s, %zu bytes\n", out.path.c_str(), out.what, out.bytes.size());
    }
    return 0;
}

}  // namespace tcftool
