// Reading and checking the header of an update file, and loading the two
// EEPROM images it names (or the model's built-in ones) onto the card object.
#include <cstring>
#include <vector>

#include "../card/VjxPci.h"
#include "../platform/platform.h"
#include "Crc.h"
#include "Tcf.h"

namespace {

constexpr char kMagic[] = "VJX ";
// "Flash Update File", 0x1A and the terminating zero: all 19 bytes count.
constexpr char kIntro[] = "Flash Update File\x1A";
static_assert(sizeof kMagic - 1 == 4, "magic is four bytes");
static_assert(sizeof kIntro == 19, "intro is nineteen bytes");

constexpr int kLowestModuleCode = 0x50;

// Texts of one EEPROM image's load.
struct ImageTexts {
    const char* seek;
    const char* read;
    const char* tooLarge;
};
constexpr ImageTexts kConfigTexts = {"Can't seek PCI.", "Can't read all PCI bytes.", tcf::kEepromTooLarge};
constexpr ImageTexts kPcieTexts = {"Can't seek PCIe.", "Can't read all PCIe bytes.",
                                   tcf::kPcieEepromTooLarge};

int Refuse(CLogWindow* log, const char* text) {
    if (log) log->MessageBox(text, 0x10, 0);
    return 0;
}

int RefuseWithBeep(CLogWindow* log, const char* text) {
    MessageBeep(0x10);
    return Refuse(log, text);
}

// Loads one image: from the file when the header gives it a size, else from
// the preset. The size is checked against the engine's read-back area before
// the buffer is sized, and the buffer always holds at least `size` bytes.
// A failed load leaves no image behind, so nothing half-read can be
// programmed.
int LoadImage(CFile& file, CLogWindow* log, const unsigned char* header, unsigned offsetField,
              unsigned sizeField, unsigned limit, const tcf::Preset& preset, const ImageTexts& texts,
              bool checkSeek, std::vector<unsigned char>& image, unsigned& imageSize) {
    const uint32_t fileSize = tcf::getLE32(header + sizeField);
    const uint32_t offset = tcf::getLE32(header + offsetField);
    imageSize = 0;
    if (fileSize != 0) {
        if (fileSize > limit) {
            CString text;
            text.Format(texts.tooLarge, static_cast<unsigned>(fileSize), limit);
            return Refuse(log, text);
        }
        file.Seek(static_cast<int64_t>(offset), 0);
        if (checkSeek && file.GetPosition() != static_cast<int64_t>(offset)) return Refuse(log, texts.seek);
        if (image.size() < fileSize) image.resize(fileSize);
        if (file.Read(image.data(), fileSize) == 0) return Refuse(log, texts.read);
        imageSize = fileSize;
    } else if (preset.size != 0) {
        if (image.size() < preset.size) image.resize(preset.size);
        std::memcpy(image.data(), preset.data, preset.size);
        imageSize = preset.size;
    }
    return 1;
}

}  // namespace

int CVjxPci::ReadFileHeader(CFile& file, CLogWindow* log, TTcfSmall* record) {
    if (record == nullptr) return RefuseWithBeep(log, "Can't allocate memory for struct TTcfSmall");

    unsigned char* header = record->header;
    file.Seek(0, 0);
    if (file.Read(header, tcf::kHeaderSize) == 0)
        return RefuseWithBeep(log, "Can't read flash update file header");
    if (std::memcmp(header, kMagic, 4) != 0)
        return RefuseWithBeep(log, "Magic word in flash update file header is unknown");
    if (std::memcmp(header + 4, kIntro, sizeof kIntro) != 0)
        return RefuseWithBeep(log, "Intro in flash update file header is wrong");
    if (!CCrc8::Check(header, tcf::kHeaderSize))
        return RefuseWithBeep(log, "Checksum in flash update file header is wrong");

    const vjx::platform::Program& program = *m_program;
    const int code = header[tcf::kOffModule];
    if (code < kLowestModuleCode || code > program.highestModuleCode ||
        GetModelIndex(code) == program.unknownModel)
        return RefuseWithBeep(log, "Module field in flash update file header is wrong");
    const TModel model = GetModelIndex(code);

    if (!LoadImage(file, log, header, tcf::kOffEepromOffset, tcf::kOffEepromSize, tcf::kMaxConfigEepromImage,
                   tcf::ConfigEepromPreset(model), kConfigTexts, program.checkImageSeek, m_eeImage,
                   m_eeImageSize))
        return 0;
    if (program.requireConfigEeprom && m_eeImageSize == 0)
        return Refuse(log, "No EEPROM data available for selected module");

    if (!LoadImage(file, log, header, tcf::kOffPcieOffset, tcf::kOffPcieSize, tcf::kMaxPcieEepromImage,
                   tcf::PcieEepromPreset(model, program), kPcieTexts, program.checkImageSeek, m_pcieImage,
                   m_pcieImageSize))
        return 0;
    return 1;
}
