#include "Contents.h"

#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/platform.h"
#include "tcf/Crc.h"
#include "tcf/Segment.h"
#include "tcf/Tcf.h"
#include "tcf/TcfWriter.h"

namespace tcftool {
namespace {

bool ReadAt(std::FILE* f, uint32_t offset, uint32_t size, std::vector<unsigned char>* out) {
    out->assign(size, 0);
    if (size == 0) return true;
    return std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0 &&
           std::fread(out->data(), 1, size, f) == size;
}

}  // namespace

// Through the flash command's own file class: a regular file only, so that
// a FIFO or a device given as input is refused at once instead of blocking.
bool ReadWholeFile(const std::string& path, std::string* bytes) {
    CFile file;
    CFileStatus status;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary) ||
        !CFile::GetStatus(path.c_str(), status) || status.m_size < 0 || status.m_size > UINT32_MAX)
        return false;
    const unsigned size = static_cast<unsigned>(status.m_size);
    bytes->assign(size, '\0');
    return size == 0 || file.Read(&(*bytes)[0], size) == size;
}

bool ParseFirmwareFormat(const std::string& text, tcf::FirmwareFormat* format) {
    if (text == "auto")
        *format = tcf::FirmwareFormat::kAuto;
    else if (text == "ihex")
        *format = tcf::FirmwareFormat::kIntelHex;
    else if (text == "bin")
        *format = tcf::FirmwareFormat::kBinary;
    else
        return false;
    return true;
}

std::string Digest(const std::vector<unsigned char>& bytes) {
    CCrc32 crc;
    crc.Update(bytes.data(), bytes.size());
    char text[16];
    std::snprintf(text, sizeof text, "%08x", ~crc.Get());
    return text;
}

bool ReadContents(const std::string& path, FileContents* c, std::string* error) {
    *c = FileContents();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = "can't open \"" + path + "\"";
        return false;
    }
    std::vector<unsigned char> header;
    bool ok = ReadAt(f, 0, tcf::kHeaderSize, &header);
    if (ok) {
        const unsigned char* h = header.data();
        c->module = h[tcf::kOffModule];
        ok =
            ReadAt(f, tcf::getLE32(h + tcf::kOffFpgaOffset), tcf::getLE32(h + tcf::kOffFpgaSize), &c->fpga) &&
            ReadAt(f, tcf::getLE32(h + tcf::kOffEepromOffset), tcf::getLE32(h + tcf::kOffEepromSize),
                   &c->eeprom) &&
            ReadAt(f, tcf::getLE32(h + tcf::kOffPcieOffset), tcf::getLE32(h + tcf::kOffPcieSize),
                   &c->pcieEeprom);
    }
    std::fclose(f);
    if (!ok) {
        *error = "can't read the images of \"" + path + "\"";
        return false;
    }
    // Without an FPGA image the update leaves the flash ROM alone.
    if (c->fpga.empty()) return true;

    // The segments with the flash command's own walk. The flash ROM is
    // erased whole, then each segment's data goes to its block address and
    // its header to the block's last 16 bytes; programming only clears bits.
    CFile file;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary)) {
        *error = "can't open \"" + path + "\"";
        return false;
    }
    file.Seek(tcf::kHeaderSize, 0);
    auto record = std::make_unique<TTcfSmall>();
    c->hasFirmware = true;
    c->firmware.assign(tcf::kFirmwareSpace, 0xFF);
    c->flash.assign(tcf::kFirmwareSpace, 0xFF);
    std::vector<bool> given(tcf::kFirmwareSpace, false);
    for (;;) {
        tcf::SegmentInfo info;
        const tcf::SegmentResult result = tcf::ReadSegment(file, record.get(), &info);
        if (result != tcf::SegmentResult::kOk) {
            *error = tcf::SegmentResultText(result);
            return false;
        }
        char text[160];
        if (info.address + tcf::kFlashBlockSize > tcf::kFirmwareSpace) {
            std::snprintf(text, sizeof text, "segment %u at 0x%04X reaches past the 64 KiB flash ROM",
                          info.number, info.address);
            *error = text;
            return false;
        }
        for (unsigned i = 0; i < info.length; ++i) {
            const unsigned at = info.address + i;
            if (given[at] && c->overlap.empty()) {
                std::snprintf(text, sizeof text, "segment %u overlaps an earlier segment at 0x%04X",
                              info.number, at);
                c->overlap = text;
            }
            given[at] = true;
            c->firmware[at] = record->block[i];
            c->flash[at] &= record->block[i];
        }
        for (unsigned i = 0; i < tcf::kSegHeaderSize; ++i)
            c->flash[info.address + tcf::kBlockSize + i] &= record->segHeader[i];
        c->ranges.push_back({info.address, info.address + info.length - 1});
        if (info.continuation == 0) break;
    }
    return true;
}

}  // namespace tcftool
