// Everything in an update file that can be checked without a card, run by
// the flash command before its first write and by tcftool for its verdict.
// A file refused later, half-way through the stages, would leave the card
// with new EEPROMs and an erased configuration device or flash ROM. Sizes
// and offsets are checked against the file's size before anything large is
// read, so that any file is answered at once.
#include "FileCheck.h"

#include <cinttypes>
#include <vector>

#include "../card/ModelTable.h"
#include "../card/VjxPci.h"
#include "../chips/ConfigFlash.h"
#include "../chips/Epcs.h"
#include "../chips/Pex8111.h"
#include "Tcf.h"

namespace {

constexpr unsigned kCrcBytes = 4;
constexpr unsigned kReadChunk = 64 * 1024;

int Refuse(CLogWindow* log, const char* text) {
    if (log) log->MessageBox(text, 0x10, 0);
    return 0;
}

// One part of the file: [start, end).
struct Region {
    const char* name;
    uint64_t start;
    uint64_t end;
};

bool Overlap(const Region& a, const Region& b) {
    return a.start < b.end && b.start < a.end;
}

// "FPGA image in flash update file overlaps the segment chain (...)".
int RefuseOverlap(CLogWindow* log, const Region& a, const Region& b) {
    CString text;
    text.Format("%s in flash update file overlaps the %s (bytes 0x%" PRIX64 "-0x%" PRIX64 " and 0x%" PRIX64
                "-0x%" PRIX64 ")",
                a.name, b.name, a.start, a.end - 1, b.start, b.end - 1);
    return Refuse(log, text);
}

uint16_t GetLE16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

namespace tcf {

bool FpgaImageFits(uint32_t imageSize, uint32_t deviceBytes, CString* reason) {
    // 64 bits: a size near 4 GiB must not wrap round with its CRC.
    const uint64_t withCrc = static_cast<uint64_t>(imageSize) + kCrcBytes;
    if (withCrc <= deviceBytes) return true;
    if (reason)
        reason->Format(
            "\nFPGA image of %llu bytes (with CRC) is larger than any configuration device (%u bytes)",
            static_cast<unsigned long long>(withCrc), deviceBytes);
    return false;
}

bool PcieEepromImageLoads(const unsigned char* image, unsigned size, CString* reason) {
    using namespace pex8111;
    if (size == 0) return true;
    CString local;
    CString& text = reason ? *reason : local;
    if (size < EEPROM_HEADER_BYTES) {
        text.Format("PCIe EEPROM image in flash update file is too short for the bridge (%u bytes)", size);
        return false;
    }
    if (image[0] != EEPROM_SIGNATURE) {
        text.Format(
            "PCIe EEPROM image in flash update file does not begin with the bridge's signature 0x%02X "
            "(0x%02X): the bridge would ignore it",
            EEPROM_SIGNATURE, image[0]);
        return false;
    }
    const unsigned registerBytes = GetLE16(image + 2);
    if (registerBytes % EEPROM_REGISTER_LOAD_BYTES != 0) {
        text.Format(
            "PCIe EEPROM image in flash update file declares %u bytes of register loads, not whole %u-byte "
            "loads",
            registerBytes, EEPROM_REGISTER_LOAD_BYTES);
        return false;
    }
    // What the bridge reads: header, register loads, and with the shared
    // memory asked for, its count and data. It reads no further, and bytes
    // it does not read are not configuration: the lengths must agree.
    unsigned declared = EEPROM_HEADER_BYTES + registerBytes;
    if ((image[1] & EEPROM_FORMAT_SHARED_MEMORY) != 0) {
        declared += EEPROM_SHARED_COUNT_BYTES;
        if (declared <= size) declared += GetLE16(image + declared - EEPROM_SHARED_COUNT_BYTES);
    }
    if (declared != size) {
        text.Format("PCIe EEPROM image in flash update file is %u bytes long, but its data declare %u bytes",
                    size, declared);
        return false;
    }
    return true;
}

}  // namespace tcf

int CVjxPci::CheckUpdateFile(CFile& file, CLogWindow* log, TTcfSmall* record) {
    if (record == nullptr) return Refuse(log, "Can't allocate memory for struct TTcfSmall");
    const unsigned char* header = record->header;
    CString text;

    // The configuration EEPROM holds whole 32-bit register loads; a partial
    // one is never written.
    if (m_eeImageSize % 4 != 0) {
        text.Format("EEPROM image in flash update file is not a whole number of 32-bit values (%u bytes)",
                    m_eeImageSize);
        return Refuse(log, text);
    }
    // The bridge chip takes the card's identity from the EEPROM at the next
    // power-up. An image with another subsystem key would turn the card
    // into another model, or into one no program knows, for good. A first
    // word left blank (0xFFFF) makes the chip ignore the EEPROM and show its
    // own IDs, the first register load of every preset. An image too short
    // to reach the key leaves the key the card has now.
    const TModel model = GetModelIndex(header[tcf::kOffModule]);
    const tcf::Preset preset = tcf::ConfigEepromPreset(model);
    const unsigned char* image = m_eeImage.data();
    const bool blank = m_eeImageSize >= 4 && image[2] == 0xFF && image[3] == 0xFF;
    if (preset.keyAt != 0 && (blank || m_eeImageSize >= preset.keyAt + 4)) {
        const uint32_t key = tcf::getLE32(blank ? preset.data : image + preset.keyAt);
        const uint32_t modelKey = tcf::getLE32(preset.data + preset.keyAt);
        if (key != modelKey) {
            const char* becomes = nullptr;
            vjx::models::Lookup(key, 0, &becomes);
            text.Format(
                "EEPROM image in flash update file would turn the card into \"%s\" "
                "(subsystem key 0x%08X instead of 0x%08X)",
                becomes, static_cast<unsigned>(key), static_cast<unsigned>(modelKey));
            return Refuse(log, text);
        }
    }
    if (m_pcieImageSize > tcf::kPcieEepromPage) {
        text.Format(tcf::kPcieEepromTooLarge, m_pcieImageSize, tcf::kPcieEepromPage);
        return Refuse(log, text);
    }
    // The PEX 8111 loads its EEPROM at the next power-up; an image it would
    // not take leaves the bridge unconfigured, one with stray bytes loads
    // them as registers.
    if (!tcf::PcieEepromImageLoads(m_pcieImage.data(), m_pcieImageSize, &text)) return Refuse(log, text);

    // The layout, from the header alone: every region inside the file, none
    // on another's bytes. Nothing large has been read yet.
    file.Seek(0, 2);
    const int64_t fileSize = file.GetPosition();
    if (fileSize < 0) return Refuse(log, "Can't tell the size of the flash update file");
    const uint32_t fpgaOffset = tcf::getLE32(header + tcf::kOffFpgaOffset);
    const uint32_t fpgaSize = tcf::getLE32(header + tcf::kOffFpgaSize);
    struct Image {
        Region region;
        const char* unreadable;  // the text of the stage that reads it
    };
    std::vector<Image> images;
    auto add = [&](const char* name, unsigned offsetField, unsigned sizeField, const char* unreadable) {
        const uint64_t offset = tcf::getLE32(header + offsetField), size = tcf::getLE32(header + sizeField);
        if (size != 0) images.push_back({{name, offset, offset + size}, unreadable});
    };
    add("FPGA image", tcf::kOffFpgaOffset, tcf::kOffFpgaSize, "Can't read all EPC bytes.");
    add("EEPROM image", tcf::kOffEepromOffset, tcf::kOffEepromSize, "Can't read all PCI bytes.");
    add("PCIe EEPROM image", tcf::kOffPcieOffset, tcf::kOffPcieSize, "Can't read all PCIe bytes.");

    if (fpgaSize != 0) {
        // A PCIe-core card keeps its FPGA image in its configuration flash;
        // without a card the model says which device the image is for.
        const uint32_t device =
            m_bridgeType == BRIDGE_NONE && vjx::models::ModelHasCoreFpga(model, *m_program)
                ? cfgflash::kCapacity
                : FpgaDeviceBytes();
        if (!tcf::FpgaImageFits(fpgaSize, device, &text)) {
            if (log) log->MessageBox("Can't program FPGA: ", text, 0x10, 0);
            return 0;
        }
        if (fpgaSize < epc::kSmallestImage) {
            text.Format(
                "FPGA image in flash update file is too small to configure an FPGA (%u bytes, at least %u)",
                static_cast<unsigned>(fpgaSize), static_cast<unsigned>(epc::kSmallestImage));
            return Refuse(log, text);
        }
    }
    for (const Image& i : images)
        if (i.region.end > static_cast<uint64_t>(fileSize)) return Refuse(log, i.unreadable);
    const Region headerRegion{"file header", 0, tcf::kHeaderSize};
    for (size_t a = 0; a < images.size(); ++a) {
        if (Overlap(images[a].region, headerRegion))
            return RefuseOverlap(log, images[a].region, headerRegion);
        for (size_t b = 0; b < a; ++b)
            if (Overlap(images[a].region, images[b].region))
                return RefuseOverlap(log, images[a].region, images[b].region);
    }

    // Without an FPGA image the update reads neither segments nor image.
    if (fpgaSize == 0) return 1;

    // The checks of the update sequence, in its order.
    file.Seek(tcf::kHeaderSize, 0);
    if (file.GetPosition() != tcf::kHeaderSize) return Refuse(log, "Can't seek flash update segment header");
    int segments = 0;
    if (!tcf::ValidateSegments(file, log, record, &segments)) return 0;
    // The chain lies where the walk read it, so it is inside the file.
    const int64_t chainEnd = file.GetPosition();
    if (chainEnd < 0) return Refuse(log, "Can't read flash update segment header");
    const Region chain{"segment chain", tcf::kHeaderSize, static_cast<uint64_t>(chainEnd)};
    for (const Image& i : images)
        if (Overlap(i.region, chain)) return RefuseOverlap(log, i.region, chain);

    file.Seek(fpgaOffset, 0);
    if (file.GetPosition() != static_cast<int64_t>(fpgaOffset)) return Refuse(log, "Can't seek EPC.");
    std::vector<unsigned char> chunk(kReadChunk);
    for (uint32_t left = fpgaSize; left > 0;) {
        const unsigned n = left < kReadChunk ? left : kReadChunk;
        if (file.Read(chunk.data(), n) != n) return Refuse(log, "Can't read all EPC bytes.");
        left -= n;
    }
    return 1;
}
