// Intel HEX and raw firmware images.
#include "IntelHex.h"

#include <cstdio>

namespace tcf {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string LineError(unsigned line, const char* what) {
    char text[128];
    std::snprintf(text, sizeof text, "Intel HEX line %u: %s", line, what);
    return text;
}

}  // namespace

bool LooksLikeIntelHex(const std::string& bytes) {
    if (bytes.empty() || bytes[0] != ':') return false;
    for (char c : bytes) {
        if (c != ':' && c != '\r' && c != '\n' && HexDigit(c) < 0) return false;
    }
    return true;
}

bool ParseIntelHex(const std::string& text, std::vector<unsigned char>* image, std::string* error) {
    image->assign(kFirmwareSpace, 0xFF);
    unsigned long base = 0;  // from extended address records
    unsigned lineNo = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.empty()) continue;
        if (line[0] != ':') {
            *error = LineError(lineNo, "record does not start with ':'");
            return false;
        }
        if (line.size() < 11 || (line.size() - 1) % 2 != 0) {
            *error = LineError(lineNo, "record is too short or has an odd number of digits");
            return false;
        }
        std::vector<unsigned char> rec;
        for (size_t i = 1; i < line.size(); i += 2) {
            int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
            if (hi < 0 || lo < 0) {
                *error = LineError(lineNo, "record holds a character that is not a hexadecimal digit");
                return false;
            }
            rec.push_back(static_cast<unsigned char>(hi << 4 | lo));
        }
        const unsigned count = rec[0];
        if (rec.size() != count + 5u) {
            *error = LineError(lineNo, "record length does not match its byte count");
            return false;
        }
        unsigned sum = 0;
        for (unsigned char b : rec) sum += b;
        if ((sum & 0xFF) != 0) {
            *error = LineError(lineNo, "record checksum is wrong");
            return false;
        }
        const unsigned address = static_cast<unsigned>(rec[1] << 8 | rec[2]);
        const unsigned type = rec[3];
        const unsigned char* data = rec.data() + 4;
        switch (type) {
            case 0x00:
                for (unsigned i = 0; i < count; ++i) {
                    const unsigned long at = base + address + i;
                    if (at >= kFirmwareSpace) {
                        char what[96];
                        std::snprintf(what, sizeof what,
                                      "data at 0x%lX lies beyond the 64 KiB the flash ROM blocks can reach",
                                      at);
                        *error = LineError(lineNo, what);
                        return false;
                    }
                    (*image)[at] = data[i];
                }
                break;
            case 0x01:
                return true;
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
                *error = LineError(lineNo, "unknown record type");
                return false;
        }
    }
    *error = "Intel HEX file has no end-of-file record";
    return false;
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

}  // namespace tcf
