// The same reader, image loading and segment walk as the flash command, run
// over a file with the log captured, so that the verdict and its wording are
// the flash command's own.
#include "Inspect.h"

#include <cstdio>
#include <memory>

#include "app/LogWindow.h"
#include "card/ModelTable.h"
#include "card/VjxPci.h"
#include "platform/platform.h"
#include "tcf/Crc.h"
#include "tcf/Tcf.h"

namespace tcftool {
namespace {

constexpr unsigned kOpenRead = CFile::modeRead | CFile::typeBinary;

// The log's error frame: the banner line, the message, the closing line.
constexpr const char* kErrorBanner = "------------------- Error -------------------";
constexpr const char* kFrameEnd = "---------------------------------------------";

// A log written to a temporary file, read back as text.
class CapturedLog {
public:
    CapturedLog() : m_file(std::tmpfile()), m_log(m_file ? m_file : stderr) {}
    ~CapturedLog() {
        if (m_file) std::fclose(m_file);
    }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    CLogWindow* log() { return &m_log; }

    // Text of the last error message box in the log.
    std::string LastError() const {
        if (!m_file) return "";
        std::string all;
        std::rewind(m_file);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0) all.append(buffer, n);
        std::fseek(m_file, 0, SEEK_END);
        const size_t banner = all.rfind(kErrorBanner);
        if (banner == std::string::npos) return "";
        size_t start = all.find('\n', banner);
        if (start == std::string::npos) return "";
        ++start;
        size_t end = all.find(kFrameEnd, start);
        if (end == std::string::npos) end = all.size();
        std::string text = all.substr(start, end - start);
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }

private:
    std::FILE* m_file;
    CLogWindow m_log;
};

std::string Printable(const unsigned char* p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7F) {
            s += static_cast<char>(p[i]);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", p[i]);
            s += hex;
        }
    }
    return s;
}

void DescribeImage(const unsigned char* header, unsigned offsetField, unsigned sizeField,
                   const tcf::Preset& preset, ImageReport* image) {
    image->offset = tcf::getLE32(header + offsetField);
    image->size = tcf::getLE32(header + sizeField);
    image->present = image->size != 0;
    if (!image->present) {
        image->offset = 0;
        image->preset = preset.size != 0;
        image->size = preset.size;
    }
}

// CRC-32 of the FPGA image when it lies inside the file.
bool FpgaCrc(const std::string& path, int64_t fileSize, uint32_t offset, uint32_t size, uint32_t* crc) {
    if (size == 0 || static_cast<int64_t>(offset) + size > fileSize) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bool ok = std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0;
    CCrc32 sum;
    unsigned char buffer[65536];
    uint32_t left = size;
    while (ok && left > 0) {
        const size_t want = left < sizeof buffer ? left : sizeof buffer;
        const size_t got = std::fread(buffer, 1, want, f);
        if (got != want) ok = false;
        sum.Update(buffer, got);
        left -= static_cast<uint32_t>(got);
    }
    std::fclose(f);
    if (ok) *crc = sum.Get();
    return ok;
}

// The programs of ours, each with its rules: the Linux program first.
constexpr const vjx::platform::Program* kPrograms[] = {&vjx::platform::kLinuxProgram,
                                                       &vjx::platform::kWindowsProgram};

constexpr const char* kModuleRefused = "Module field in flash update file header is wrong";

// The reader and the whole-file check as `program` runs them.
ProgramVerdict Judge(const std::string& path, const vjx::platform::Program& program, TTcfSmall* record) {
    ProgramVerdict v;
    v.program = program.name;
    CFile file;
    if (!file.Open(path.c_str(), kOpenRead)) {
        CString text;
        text.Format("Can't open file \"%s\"!", path.c_str());
        v.reason = text.str();
        return v;
    }
    CVjxPci card;
    card.SetProgram(program);
    CapturedLog log;
    v.accepted = card.ReadFileHeader(file, log.log(), record) != 0 &&
                 card.CheckUpdateFile(file, log.log(), record) != 0;
    if (!v.accepted) v.reason = log.LastError();
    return v;
}

}  // namespace

FileReport Inspect(const std::string& path) {
    FileReport r;
    r.path = path;

    CFileStatus status;
    CFile file;
    if (!CFile::GetStatus(path.c_str(), status) || !file.Open(path.c_str(), kOpenRead)) {
        CString text;
        text.Format("Can't open file \"%s\"!", path.c_str());
        r.reason = text.str();
        return r;
    }
    r.fileSize = status.m_size;
    file.Close();

    auto record = std::make_unique<TTcfSmall>();
    for (const vjx::platform::Program* program : kPrograms) {
        r.programs.push_back(Judge(path, *program, record.get()));
        r.accepted = r.accepted || r.programs.back().accepted;
    }
    // Refused by all: the reason of a program that knows the module code
    // (the other one only says it does not), else the first.
    if (!r.accepted) {
        r.reason = r.programs.front().reason;
        for (const ProgramVerdict& v : r.programs)
            if (v.reason != kModuleRefused) {
                r.reason = v.reason;
                break;
            }
    }

    // The header area holds the file's first 256 bytes whenever they could
    // be read, also when a later check refused them.
    r.headerRead = r.fileSize >= tcf::kHeaderSize;
    if (!r.headerRead) return r;
    const unsigned char* h = record->header;
    r.magic = Printable(h, 4);
    r.module = h[tcf::kOffModule];
    // The model as the first program that knows the module code sees it.
    const vjx::platform::Program* knows = kPrograms[0];
    for (const vjx::platform::Program* program : kPrograms)
        if (vjx::models::ModelForModuleCode(r.module, *program) != program->unknownModel) {
            knows = program;
            break;
        }
    const int model = vjx::models::ModelForModuleCode(r.module, *knows);
    r.model = model == knows->unknownModel ? -1 : model;
    r.modelName = vjx::models::FileModelName(r.module, *knows);
    r.headerCrc = h[tcf::kOffHeaderCrc];
    r.fpgaOffset = tcf::getLE32(h + tcf::kOffFpgaOffset);
    r.fpgaSize = tcf::getLE32(h + tcf::kOffFpgaSize);
    DescribeImage(h, tcf::kOffEepromOffset, tcf::kOffEepromSize, tcf::ConfigEepromPreset(model), &r.eeprom);
    DescribeImage(h, tcf::kOffPcieOffset, tcf::kOffPcieSize, tcf::PcieEepromPreset(model, *knows),
                  &r.pcieEeprom);
    // Only for an accepted file: its sizes have been checked against the
    // file and the device, so the sum reads no more than the update would.
    if (r.accepted) r.fpgaCrcKnown = FpgaCrc(path, r.fileSize, r.fpgaOffset, r.fpgaSize, &r.fpgaCrc32);

    // Without an FPGA image the update reads no segments at all.
    if (r.fpgaSize == 0) return r;

    // Segment by segment for the listing, up to where the walk stops.
    CFile walk;
    if (walk.Open(path.c_str(), kOpenRead)) {
        walk.Seek(tcf::kHeaderSize, 0);
        for (;;) {
            tcf::SegmentInfo info;
            const tcf::SegmentResult result = tcf::ReadSegment(walk, record.get(), &info);
            if (result != tcf::SegmentResult::kNoHeader) r.segments.push_back(info);
            if (result != tcf::SegmentResult::kOk || info.continuation == 0) break;
        }
        walk.Close();
    }

    return r;
}

}  // namespace tcftool
