// Everything in an update file that can be checked without a card, run by
// the flash command before its first write and by tcftool for its verdict.
// A file refused later, half-way through the stages, would leave the card
// with new EEPROMs and an erased configuration device or flash ROM.
#include "FileCheck.h"

#include <vector>

#include "../card/ModelTable.h"
#include "../card/VjxPci.h"
#include "Tcf.h"

namespace {

constexpr unsigned kCrcBytes = 4;
constexpr unsigned kReadChunk = 64 * 1024;

int Refuse(CLogWindow* log, const char* text) {
    if (log) log->MessageBox(text, 0x10, 0);
    return 0;
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

    // Without an FPGA image the update reads neither segments nor image.
    const uint32_t fpgaOffset = tcf::getLE32(header + tcf::kOffFpgaOffset);
    const uint32_t fpgaSize = tcf::getLE32(header + tcf::kOffFpgaSize);
    if (fpgaSize == 0) return 1;

    // The checks of the update sequence, in its order.
    file.Seek(tcf::kHeaderSize, 0);
    if (file.GetPosition() != tcf::kHeaderSize) return Refuse(log, "Can't seek flash update segment header");
    int segments = 0;
    if (!tcf::ValidateSegments(file, log, record, &segments)) return 0;

    file.Seek(fpgaOffset, 0);
    if (file.GetPosition() != static_cast<int64_t>(fpgaOffset)) return Refuse(log, "Can't seek EPC.");
    if (!tcf::FpgaImageFits(fpgaSize, FpgaDeviceBytes(), &text)) {
        if (log) log->MessageBox("Can't program FPGA: ", text, 0x10, 0);
        return 0;
    }
    if (fpgaOffset < tcf::kHeaderSize) {
        text.Format("FPGA image in flash update file overlaps the file header (offset 0x%X)",
                    static_cast<unsigned>(fpgaOffset));
        return Refuse(log, text);
    }
    std::vector<unsigned char> chunk(kReadChunk);
    for (uint32_t left = fpgaSize; left > 0;) {
        const unsigned n = left < kReadChunk ? left : kReadChunk;
        if (file.Read(chunk.data(), n) != n) return Refuse(log, "Can't read all EPC bytes.");
        left -= n;
    }
    return 1;
}
