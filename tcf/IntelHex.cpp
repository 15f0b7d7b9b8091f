// Intel HEX and raw firmware images.
#include "IntelHex.h"

#include <algorithm>
#include <cstdio>

#include "TcfWriter.h"

namespace tcf {
namespace {

constexpr unsigned char kCtrlZ = 0x1A;
constexpr unsigned kTrailerBytes = 16;  // the segment header at the end of each block

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsSpace(char c) {
    return IsBlank(c) || c == '\r' || c == '\n';
}

bool HasBom(const std::string& s) {
    return s.size() >= 3 && s.compare(0, 3, "\xEF\xBB\xBF") == 0;
}

std::string LineError(unsigned line, const std::string& what) {
    return "Intel HEX line " + std::to_string(line) + ": " + what;
}

std::string Hex4(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04lX", value);
    return text;
}

std::string CharName(unsigned char c) {
    char text[32];
    if (c > 0x20 && c < 0x7F)
        std::snprintf(text, sizeof text, "'%c'", c);
    else
        std::snprintf(text, sizeof text, "byte 0x%02X", c);
    return text;
}

// Intel HEX text read into an image, with the line that gave each byte
// (0: nothing given).
struct HexRead {
    std::vector<unsigned char> image;
    std::vector<unsigned> lineOf;
    unsigned records = 0;
};

// Position of the one Ctrl-Z that may end the file (only blanks and line
// breaks behind it), or npos.
size_t FinalCtrlZ(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsSpace(text[end - 1])) --end;
    if (end > 0 && static_cast<unsigned char>(text[end - 1]) == kCtrlZ) return end - 1;
    return std::string::npos;
}

// One record line without its blanks, checked and decoded.
bool DecodeRecord(const std::string& text, size_t begin, size_t end, unsigned lineNo,
                  std::vector<unsigned char>* rec, std::string* error) {
    const size_t length = end - begin;
    for (size_t i = begin + 1; i < end; ++i) {
        if (HexDigit(text[i]) < 0) {
            *error = LineError(lineNo, CharName(static_cast<unsigned char>(text[i])) + " in column " +
                                           std::to_string(i - begin + 1) + " is not a hexadecimal digit");
            return false;
        }
    }
    if (length < 11 || (length - 1) % 2 != 0) {
        *error = LineError(lineNo, "record is too short or has an odd number of digits");
        return false;
    }
    rec->clear();
    for (size_t i = begin + 1; i < end; i += 2)
        rec->push_back(static_cast<unsigned char>(HexDigit(text[i]) << 4 | HexDigit(text[i + 1])));
    if (rec->size() != (*rec)[0] + 5u) {
        *error = LineError(lineNo, "record length does not match its byte count");
        return false;
    }
    unsigned sum = 0;
    for (unsigned char b : *rec) sum += b;
    if ((sum & 0xFF) != 0) {
        *error = LineError(lineNo, "record checksum is wrong");
        return false;
    }
    return true;
}

bool ReadHex(const std::string& text, HexRead* out, std::string* error) {
    out->image.assign(kFirmwareSpace, 0xFF);
    out->lineOf.assign(kFirmwareSpace, 0);
    out->records = 0;
    if (HasBom(text)) {
        *error = LineError(1, "the file starts with a UTF-8 byte-order mark; save it without one");
        return false;
    }
    const size_t ctrlZ = FinalCtrlZ(text);
    const size_t textEnd = ctrlZ == std::string::npos ? text.size() : ctrlZ;

    unsigned long base = 0;  // from extended address records
    bool ended = false;      // end-of-file record seen
    unsigned lineNo = 0;
    std::vector<unsigned char> rec;
    for (size_t pos = 0; pos < textEnd;) {
        size_t next = text.find('\n', pos);
        if (next == std::string::npos || next > textEnd) next = textEnd;
        ++lineNo;
        size_t begin = pos, end = next;
        pos = next + 1;
        while (begin < end && IsBlank(text[begin])) ++begin;
        while (end > begin && IsSpace(text[end - 1])) --end;
        if (begin == end) continue;
        if (ended) {
            *error = LineError(lineNo, "text after the end-of-file record");
            return false;
        }
        if (text[begin] != ':') {
            *error = LineError(lineNo, "record does not start with ':' but with " +
                                           CharName(static_cast<unsigned char>(text[begin])));
            return false;
        }
        if (!DecodeRecord(text, begin, end, lineNo, &rec, error)) return false;
        ++out->records;
        const unsigned count = rec[0];
        const unsigned address = static_cast<unsigned>(rec[1] << 8 | rec[2]);
        const unsigned type = rec[3];
        const unsigned char* data = rec.data() + 4;
        switch (type) {
            case 0x00:
                for (unsigned i = 0; i < count; ++i) {
                    const unsigned long at = base + address + i;
                    if (at >= kFirmwareSpace) {
                        *error =
                            LineError(lineNo, "data at " + Hex4(at) +
                                                  " lies beyond the 64 KiB the flash ROM blocks can reach");
                        return false;
                    }
                    const unsigned earlier = out->lineOf[at];
                    if (earlier != 0 && out->image[at] != data[i]) {
                        char what[160];
                        std::snprintf(what, sizeof what,
                                      "data at 0x%04lX (0x%02X) overlaps line %u, which gave 0x%02X there",
                                      at, data[i], earlier, out->image[at]);
                        *error = LineError(lineNo, what);
                        return false;
                    }
                    out->image[at] = data[i];
                    if (earlier == 0) out->lineOf[at] = lineNo;
                }
                break;
            case 0x01:
                if (count != 0) {
                    *error = LineError(lineNo, "end-of-file record must carry no data");
                    return false;
                }
                ended = true;
                break;
            case 0x02:
            case 0x04:
                if (count != 2) {
                    *error = LineError(lineNo, "extended address record must carry two bytes");
                    return false;
                }
                base = static_cast<unsigned long>(data[0] << 8 | data[1]) << (type == 0x02 ? 4 : 16);
                break;
            case 0x03:
            case 0x05:
                break;  // start address: the boot loader starts the application itself
            default:
                *error = LineError(lineNo, "unknown record type " + std::to_string(type));
                return false;
        }
    }
    if (!ended) {
        *error = "Intel HEX file has no end-of-file record";
        return false;
    }
    return true;
}

std::vector<AddressRange> RangesOf(const std::vector<unsigned>& lineOf) {
    std::vector<AddressRange> ranges;
    for (unsigned at = 0; at < lineOf.size(); ++at) {
        if (lineOf[at] == 0) continue;
        if (!ranges.empty() && ranges.back().last + 1 == at)
            ranges.back().last = at;
        else
            ranges.push_back({at, at});
    }
    return ranges;
}

// Explicit 0xFF in the last 16 bytes of a block: the card keeps the segment
// header there, so these bytes never reach the flash ROM. (Other values there
// are refused when the image is cut into blocks.)
void WarnTrailers(const HexRead& hex, std::vector<std::string>* warnings) {
    for (unsigned block = 0; block < kFirmwareSpace; block += kFlashBlockSize) {
        const unsigned trailer = block + kFlashBlockSize - kTrailerBytes;
        unsigned first = 0, last = 0, line = 0;
        bool any = false;
        for (unsigned at = trailer; at < block + kFlashBlockSize; ++at) {
            if (hex.lineOf[at] == 0 || hex.image[at] != 0xFF) continue;
            if (!any) first = at, line = hex.lineOf[at];
            last = at;
            any = true;
        }
        if (!any) continue;
        warnings->push_back(LineError(line, "explicit 0xFF at " + Hex4(first) + "-" + Hex4(last) +
                                                ", where the card holds the segment header of the block at " +
                                                Hex4(block) + "; these bytes are not programmed"));
    }
}

constexpr const char* kResetWarning =
    "nothing at address 0x0000 (the reset vector): the microcontroller would start in erased flash";

// What a file that is not firmware looks like, or empty when it may be raw
// binary.
std::string LooksLike(const std::string& bytes) {
    if (bytes.size() >= 4 && bytes.compare(0, 4,
                                           "\x7F"
                                           "ELF") == 0)
        return "an ELF object file; convert it with objcopy -O ihex";
    if (bytes.compare(0, 21, "VJX Flash Update File") == 0) return "an update file, not firmware";
    size_t i = HasBom(bytes) ? 3 : 0;
    while (i < bytes.size() && IsSpace(bytes[i])) ++i;
    if (i + 1 < bytes.size() && (bytes[i] == 'S' || bytes[i] == 's') && bytes[i + 1] >= '0' &&
        bytes[i + 1] <= '9')
        return "Motorola S-records; convert them with srec_cat FILE -o OUT.hex -intel";
    if (i + 1 < bytes.size() && bytes[i] == '@' && HexDigit(bytes[i + 1]) >= 0) return "TI-TXT";
    // Text: printable ASCII, blanks and line breaks, and well-formed UTF-8.
    const size_t ctrlZ = FinalCtrlZ(bytes);
    size_t k = 0;
    while (k < bytes.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes[k]);
        if (c < 0x80) {
            if ((c < 0x20 && !IsSpace(static_cast<char>(c)) && c != '\f' && !(c == kCtrlZ && k == ctrlZ)) ||
                c == 0x7F)
                return "";
            ++k;
            continue;
        }
        const size_t n = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (n == 0 || c >= 0xF5 || k + n > bytes.size()) return "";
        for (size_t m = 1; m < n; ++m)
            if ((static_cast<unsigned char>(bytes[k + m]) & 0xC0) != 0x80) return "";
        k += n;
    }
    return "text";
}

}  // namespace

bool LooksLikeIntelHex(const std::string& bytes) {
    size_t i = HasBom(bytes) ? 3 : 0;
    while (i < bytes.size() && IsSpace(bytes[i])) ++i;
    return i < bytes.size() && bytes[i] == ':';
}

bool ParseIntelHex(const std::string& text, std::vector<unsigned char>* image, std::string* error) {
    HexRead hex;
    if (!ReadHex(text, &hex, error)) return false;
    *image = std::move(hex.image);
    return true;
}

bool LoadRawFirmware(const std::string& bytes, std::vector<unsigned char>* image, std::string* error) {
    if (bytes.size() > kFirmwareSpace) {
        *error = "Raw firmware is larger than the 64 KiB the flash ROM blocks can reach";
        return false;
    }
    image->assign(kFirmwareSpace, 0xFF);
    for (size_t i = 0; i < bytes.size(); ++i) (*image)[i] = static_cast<unsigned char>(bytes[i]);
    return true;
}

bool LoadFirmware(const std::string& bytes, FirmwareFormat format, FirmwareImage* out, std::string* error) {
    *out = FirmwareImage();
    if (bytes.empty()) {
        *error = "the file is empty";
        return false;
    }
    if (format == FirmwareFormat::kAuto) {
        if (LooksLikeIntelHex(bytes)) {
            format = FirmwareFormat::kIntelHex;
        } else {
            const std::string what = LooksLike(bytes);
            if (!what.empty()) {
                *error =
                    "this looks like " + what +
                    ", not Intel HEX or raw binary firmware (--firmware-format bin takes it as raw binary)";
                return false;
            }
            format = FirmwareFormat::kBinary;
        }
    }
    out->format = format;
    if (format == FirmwareFormat::kIntelHex) {
        HexRead hex;
        if (!ReadHex(bytes, &hex, error)) return false;
        out->records = hex.records;
        out->ranges = RangesOf(hex.lineOf);
        if (hex.lineOf[0] == 0) out->warnings.push_back(kResetWarning);
        WarnTrailers(hex, &out->warnings);
        out->image = std::move(hex.image);
    } else {
        if (!LoadRawFirmware(bytes, &out->image, error)) return false;
        out->ranges.push_back({0, static_cast<unsigned>(bytes.size() - 1)});
        if (out->image[0] == 0xFF) out->warnings.push_back(kResetWarning);
    }
    if (out->ranges.empty()) {
        *error = "the file holds no data";
        return false;
    }
    return true;
}

std::string WriteIntelHex(const std::vector<unsigned char>& image, const std::vector<AddressRange>& ranges) {
    std::string text;
    char field[8];
    for (const AddressRange& r : ranges) {
        for (unsigned at = r.first; at <= r.last && at < image.size();) {
            // 16-byte records on 16-byte boundaries.
            const unsigned count = std::min(16 - at % 16, r.last - at + 1);
            unsigned sum = count + (at >> 8 & 0xFF) + (at & 0xFF);
            std::snprintf(field, sizeof field, ":%02X", count);
            text += field;
            std::snprintf(field, sizeof field, "%04X00", at);
            text += field;
            for (unsigned i = 0; i < count; ++i) {
                std::snprintf(field, sizeof field, "%02X", image[at + i]);
                text += field;
                sum += image[at + i];
            }
            std::snprintf(field, sizeof field, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
            text += field;
            at += count;
        }
    }
    return text + ":00000001FF\n";
}

std::string RangesText(const std::vector<AddressRange>& ranges) {
    std::string text;
    for (const AddressRange& r : ranges) {
        if (!text.empty()) text += ", ";
        text += Hex4(r.first) + "-" + Hex4(r.last);
    }
    return text;
}

}  // namespace tcf
