// tcftool info: the file's header, images and segments, and the verdict.
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "Contents.h"
#include "Inspect.h"

namespace tcftool {
namespace {

// What the card holds after an update from the file, as digests a user
// compares with a card's; only for a file the flash command accepts.
struct CardDigests {
    bool known = false;
    bool flash = false;  // the update programs the flash ROM
    std::string flashDigest;
};

CardDigests ComputeDigests(const FileReport& report) {
    CardDigests d;
    FileContents contents;
    std::string error;
    if (!report.accepted || !ReadContents(report.path, &contents, &error)) return d;
    d.known = true;
    d.flash = contents.hasFirmware;
    if (d.flash) d.flashDigest = Digest(contents.flash);
    return d;
}

// Eight lower-case hexadecimal digits, as digests are shown.
std::string Hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::string DataRange(const tcf::SegmentInfo& s) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%04X-0x%04X", s.address, s.address + (s.length ? s.length - 1 : 0));
    return text;
}

const char* GoodBad(bool good) {
    return good ? "good" : "bad";
}

nlohmann::json ImageJson(const ImageReport& image) {
    nlohmann::json j;
    j["source"] = image.present ? "file" : image.preset ? "preset" : "none";
    if (image.present) j["offset"] = image.offset;
    j["size"] = image.size;
    return j;
}

std::string ImageText(const ImageReport& image) {
    char text[96];
    if (image.present)
        std::snprintf(text, sizeof text, "offset 0x%X, %u bytes", image.offset, image.size);
    else if (image.preset)
        std::snprintf(text, sizeof text, "preset (%u bytes)", image.size);
    else
        std::snprintf(text, sizeof text, "none");
    return text;
}

void PrintJson(const FileReport& r, const CardDigests& digests) {
    nlohmann::json j;
    j["file"] = r.path;
    if (r.fileSize >= 0) j["size"] = r.fileSize;
    if (r.headerRead) {
        j["magic"] = r.magic;
        j["module"] = r.module;
        j["model"] = r.model >= 0 ? nlohmann::json(r.model) : nlohmann::json();
        j["modelName"] = r.modelName;
        j["headerCrc"] = r.headerCrc;
        nlohmann::json fpga;
        fpga["offset"] = r.fpgaOffset;
        fpga["size"] = r.fpgaSize;
        if (r.fpgaCrcKnown) {
            fpga["crc32"] = r.fpgaCrc32;
            fpga["appendedCrc"] = Hex8(r.fpgaCrc32);
        }
        j["fpga"] = fpga;
        j["eeprom"] = ImageJson(r.eeprom);
        j["pcieEeprom"] = ImageJson(r.pcieEeprom);
        nlohmann::json segments = nlohmann::json::array();
        for (const tcf::SegmentInfo& s : r.segments) {
            nlohmann::json seg;
            seg["number"] = s.number;
            seg["address"] = s.address;
            seg["length"] = s.length;
            seg["data"] = DataRange(s);
            seg["continuation"] = s.continuation;
            seg["headerCrc"] = GoodBad(s.headerCrcGood);
            seg["blockCrc"] = s.blockChecked ? GoodBad(s.blockCrcGood) : "unchecked";
            segments.push_back(seg);
        }
        j["segments"] = segments;
        if (digests.known)
            j["flashImage"] =
                digests.flash ? nlohmann::json{{"size", tcf::kFirmwareSpace}, {"digest", digests.flashDigest}}
                              : nlohmann::json();
    }
    j["accepted"] = r.accepted;
    if (!r.accepted) j["reason"] = r.reason;
    nlohmann::json programs = nlohmann::json::array();
    for (const ProgramVerdict& v : r.programs) {
        nlohmann::json p{{"program", v.program}, {"accepted", v.accepted}};
        if (!v.accepted) p["reason"] = v.reason;
        programs.push_back(p);
    }
    j["programs"] = programs;
    std::cout << j.dump(2) << "\n";
}

void PrintText(const FileReport& r, const CardDigests& digests) {
    std::printf("File:          %s", r.path.c_str());
    if (r.fileSize >= 0) std::printf(" (%lld bytes)", static_cast<long long>(r.fileSize));
    std::printf("\n");
    if (r.headerRead) {
        std::printf("Magic:         \"%s\"\n", r.magic.c_str());
        std::printf("Module:        %d (0x%02X), %s", r.module, static_cast<unsigned>(r.module),
                    r.modelName.c_str());
        if (r.model >= 0)
            std::printf(", model %d\n", r.model);
        else
            std::printf(", no model\n");
        std::printf("Header CRC:    0x%02X\n", r.headerCrc);
        if (r.fpgaSize == 0) {
            std::printf("FPGA image:    none\n");
        } else {
            std::printf("FPGA image:    offset 0x%X, %u bytes", r.fpgaOffset, r.fpgaSize);
            if (r.fpgaCrcKnown) std::printf(", CRC-32 0x%08x appended", r.fpgaCrc32);
            std::printf("\n");
        }
        std::printf("EEPROM image:  %s\n", ImageText(r.eeprom).c_str());
        std::printf("PCIe EEPROM:   %s\n", ImageText(r.pcieEeprom).c_str());
        std::printf("Segments:      %zu\n", r.segments.size());
        for (const tcf::SegmentInfo& s : r.segments) {
            std::printf(
                "  segment %u: block 0x%04X, data %s, length 0x%X (%u), header CRC %s, block CRC %s%s\n",
                s.number, s.address, DataRange(s).c_str(), s.length, s.length, GoodBad(s.headerCrcGood),
                s.blockChecked ? GoodBad(s.blockCrcGood) : "unchecked", s.continuation ? "" : ", last");
        }
    }
    if (digests.known) {
        if (digests.flash)
            std::printf("Flash image:   %u bytes, digest %s\n", tcf::kFirmwareSpace,
                        digests.flashDigest.c_str());
        else
            std::printf("Flash image:   not programmed\n");
    }
    // Accepted when a program of ours takes the file; which ones do, and
    // why the others refuse, on one line each.
    std::string takers, refusers;
    for (const ProgramVerdict& v : r.programs) {
        std::string& list = v.accepted ? takers : refusers;
        list += (list.empty() ? "" : " and ") + v.program;
    }
    if (!r.accepted)
        std::printf("Verdict:       refused: %s\n", r.reason.c_str());
    else if (refusers.empty())
        std::printf("Verdict:       accepted\n");
    else
        std::printf("Verdict:       accepted by %s, refused by %s\n", takers.c_str(), refusers.c_str());
    for (const ProgramVerdict& v : r.programs) {
        if (v.accepted)
            std::printf("  %-12s accepted\n", (v.program + ":").c_str());
        else
            std::printf("  %-12s refused: %s\n", (v.program + ":").c_str(), v.reason.c_str());
    }
}

}  // namespace

int RunInfo(const std::string& path, bool json) {
    const FileReport report = Inspect(path);
    const CardDigests digests = ComputeDigests(report);
    if (json)
        PrintJson(report, digests);
    else
        PrintText(report, digests);
    return report.accepted ? 0 : 1;
}

}  // namespace tcftool
