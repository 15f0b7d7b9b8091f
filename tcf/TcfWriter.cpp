// Update-file writer.
#include "TcfWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "Crc.h"
#include "Tcf.h"

namespace tcf {

uint8_t BlockCrc(const unsigned char* data, size_t length) {
    uint8_t reg = 0xFF;
    for (size_t i = 0; i < length; ++i) reg = CCrc8::Update(reg, data[i]);
    for (size_t i = length; i < kBlockSize; ++i) reg = CCrc8::Update(reg, 0xFF);
    return reg;
}

bool CutFirmware(const std::vector<unsigned char>& image, std::vector<SegmentData>* segments,
                 std::string* error) {
    segments->clear();
    for (size_t block = 0; block < image.size(); block += kFlashBlockSize) {
        const size_t blockEnd = std::min(image.size(), block + kFlashBlockSize);
        for (size_t at = block + kBlockSize; at < blockEnd; ++at) {
            if (image[at] != 0xFF) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "Firmware byte at 0x%04zX lies in the last 16 bytes of "
                              "the flash block at 0x%04zX, "
                              "where the segment header is written",
                              at, block);
                *error = text;
                return false;
            }
        }
        const size_t dataEnd = std::min(blockEnd, block + kBlockSize);
        size_t last = dataEnd;
        while (last > block && image[last - 1] == 0xFF) --last;
        if (last == block) continue;  // nothing but erased bytes
        SegmentData seg;
        seg.address = static_cast<uint16_t>(block);
        seg.data.assign(image.begin() + static_cast<std::ptrdiff_t>(block),
                        image.begin() + static_cast<std::ptrdiff_t>(last));
        segments->push_back(std::move(seg));
    }
    return true;
}

bool CheckContent(const FileContent& content, std::string* error) {
    char text[160];
    if (content.module < 0x50 || content.module > 0x63) {
        std::snprintf(text, sizeof text, "Module code %d (0x%X) is outside the range 80 to 99 (0x50 to 0x63)",
                      content.module, static_cast<unsigned>(content.module));
        *error = text;
        return false;
    }
    if (content.eeprom.size() > kMaxConfigEepromImage || content.eeprom.size() % 4 != 0) {
        std::snprintf(text, sizeof text,
                      "EEPROM image has %zu bytes; it must be a whole number of "
                      "32-bit values, at most %u bytes",
                      content.eeprom.size(), kMaxConfigEepromImage);
        *error = text;
        return false;
    }
    if (content.pcieEeprom.size() > kPcieEepromPage) {
        std::snprintf(text, sizeof text, "PCIe EEPROM image has %zu bytes; at most %u bytes fit",
                      content.pcieEeprom.size(), kPcieEepromPage);
        *error = text;
        return false;
    }
    // The card reads segments only from a file with an FPGA image, and the
    // update sequence needs at least one segment behind such a header.
    if (!content.fpga.empty() && content.segments.empty()) {
        *error = "An FPGA image needs firmware: the update programs both or neither";
        return false;
    }
    if (content.fpga.empty() && !content.segments.empty()) {
        *error = "Firmware needs an FPGA image: the update programs both or neither";
        return false;
    }
    for (const SegmentData& seg : content.segments) {
        if (seg.data.empty() || seg.data.size() > kBlockSize) {
            std::snprintf(text, sizeof text, "Segment at 0x%04X has %zu data bytes; it must have 1 to %u",
                          seg.address, seg.data.size(), kBlockSize);
            *error = text;
            return false;
        }
    }
    return true;
}

bool BuildFile(const FileContent& content, std::vector<unsigned char>* file, std::string* error) {
    uint64_t total = kHeaderSize;
    for (const SegmentData& seg : content.segments) {
        if (seg.data.size() > 0xFFFF) {
            *error = "A segment's data length must fit in 16 bits";
            return false;
        }
        total += kSegHeaderSize + seg.data.size();
    }
    total += content.fpga.size() + content.eeprom.size() + content.pcieEeprom.size();
    if (total > 0xFFFFFFFFu) {
        *error = "An update file must stay below 4 GiB";
        return false;
    }

    file->assign(kHeaderSize, 0);
    unsigned char* h = file->data();
    std::memcpy(h, "VJX Flash Update File\x1A", 22);  // and the zero byte at 22
    h[kOffModule] = static_cast<unsigned char>(content.module);

    for (size_t i = 0; i < content.segments.size(); ++i) {
        const SegmentData& seg = content.segments[i];
        unsigned char sh[kSegHeaderSize] = {};
        sh[kSegOffBlockCrc] = BlockCrc(seg.data.data(), seg.data.size());
        putBE16(sh + kSegOffAddress, seg.address);
        putBE16(sh + kSegOffLength, static_cast<uint16_t>(seg.data.size()));
        sh[kSegOffNumber] = static_cast<unsigned char>(i + 1);
        putBE16(sh + kSegOffContinue, i + 1 < content.segments.size() ? 1 : 0);
        CCrc8::Calc(sh, kSegHeaderSize);
        file->insert(file->end(), sh, sh + kSegHeaderSize);
        file->insert(file->end(), seg.data.begin(), seg.data.end());
    }

    // Images follow the chain; an empty one keeps offset and size 0.
    auto place = [file](const std::vector<unsigned char>& image, unsigned offsetField, unsigned sizeField) {
        if (image.empty()) return;
        putLE32(file->data() + offsetField, static_cast<uint32_t>(file->size()));
        putLE32(file->data() + sizeField, static_cast<uint32_t>(image.size()));
        file->insert(file->end(), image.begin(), image.end());
    };
    place(content.fpga, kOffFpgaOffset, kOffFpgaSize);
    place(content.eeprom, kOffEepromOffset, kOffEepromSize);
    place(content.pcieEeprom, kOffPcieOffset, kOffPcieSize);

    CCrc8::Calc(file->data(), kHeaderSize);
    return true;
}

}  // namespace tcf
